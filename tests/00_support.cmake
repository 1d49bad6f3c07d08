# Helpers shared by the test programs (tests/support/test_support.h). Listed
# first among the tests/*.cmake parts; test programs elsewhere name it in
# their LIBS.
if(TRCFORGE_BUILD_TESTS)
  add_library(trcforge_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/support/test_support.cc)
endif()
