# Trace writer benchmark: frame lines per second of each trace version, into
# a stream that drops the bytes and into a stdio file on /dev/null, and the
# cost of the line formatters alone.
if(TARGET benchmark::benchmark)
  add_executable(trace_bench ${CMAKE_CURRENT_LIST_DIR}/trace_bench.cc)
  target_link_libraries(trace_bench PRIVATE trcforge_formats benchmark::benchmark)
endif()
