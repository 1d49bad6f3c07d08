# Paths, folder walk and the conversion driver: above the reader, the
# file-system objects and the back-end interface.
add_library(trcforge_convert
  ${CMAKE_CURRENT_LIST_DIR}/paths.cc
  ${CMAKE_CURRENT_LIST_DIR}/driver.cc)
target_link_libraries(trcforge_convert PUBLIC trcforge_fs trcforge_reader trcforge_stream trcforge_log)

trcforge_add_test(paths_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/paths_test.cc
  LIBS trcforge_convert trcforge_test_support)
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/virtual_file_system.h)
  trcforge_add_test(driver_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/driver_test.cc
    LIBS trcforge_convert trcforge_fs_testing trcforge_test_support)
endif()
