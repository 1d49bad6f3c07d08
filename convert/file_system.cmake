# File-system objects: the real table over POSIX calls, and an in-memory
# double for tests of the code built on them.
add_library(trcforge_fs file_system.cc)
target_link_libraries(trcforge_fs PUBLIC trcforge_stream)

add_library(trcforge_fs_testing virtual_file_system.cc)
target_link_libraries(trcforge_fs_testing PUBLIC trcforge_fs)

trcforge_add_test(file_system_test
  SOURCES file_system_test.cc
  LIBS trcforge_fs trcforge_fs_testing trcforge_test_support)
