# gen_log: deterministic generator of text logs for the throughput benchmark
# (bench/throughput.py) and the equivalence tests. Plain C++, no project
# libraries.
add_executable(gen_log ${CMAKE_CURRENT_LIST_DIR}/gen_log.cc)
