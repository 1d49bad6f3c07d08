# Fault cases of the conversion driver with the real trace writer over an
# in-memory file system that fails on request.
trcforge_add_test(faults_driver_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/faults_driver_test.cc
  LIBS trcforge_convert trcforge_trace trcforge_fs_testing trcforge_test_support)
