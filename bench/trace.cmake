# Trace writer benchmark: frame lines per second of each trace version, into
# a sink that drops the bytes, and the cost of the line formatters alone.
if(TARGET benchmark::benchmark)
  add_executable(trace_bench ${CMAKE_CURRENT_LIST_DIR}/trace_bench.cc)
  target_link_libraries(trace_bench PRIVATE trcforge_formats benchmark::benchmark)
endif()
