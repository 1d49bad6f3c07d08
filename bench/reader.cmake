# Reader benchmark: records per second through a buffered reader, and the
# cost of one-byte reads.
if(TARGET benchmark::benchmark)
  add_executable(reader_bench ${CMAKE_CURRENT_LIST_DIR}/reader_bench.cc)
  target_link_libraries(reader_bench PRIVATE trcforge_reader benchmark::benchmark)
endif()
