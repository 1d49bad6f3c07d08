# Helpers shared by the test programs: tests/support/test_support.h and the
# in-memory file system (tests/support/virtual_file_system.h). Listed first
# among the tests/*.cmake parts; test programs elsewhere name them in their
# LIBS.
if(TRCFORGE_BUILD_TESTS)
  add_library(trcforge_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/support/test_support.cc)
  add_library(trcforge_fs_testing STATIC ${CMAKE_CURRENT_LIST_DIR}/support/virtual_file_system.cc)
  target_link_libraries(trcforge_fs_testing PUBLIC trcforge_fs)
endif()
