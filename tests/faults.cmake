# Fault cases of the built trcforge binary (file-size limit, permissions,
# loops, pipes, long paths, damaged logs).
trcforge_add_test(faults_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/faults_test.cc
  LIBS trcforge_test_support)
if(TARGET faults_test)
  target_compile_definitions(faults_test PRIVATE TRCFORGE_BINARY="$<TARGET_FILE:trcforge>")
  add_dependencies(faults_test trcforge)
endif()
