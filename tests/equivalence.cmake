# Equivalence of the fast paths: the trcforge binary on generated logs of
# every layout, in every buffer size class and both trace versions, against a
# reference converter built on the library conversions and stb_sprintf. The
# log generator is the benchmark's, built here for the test.
if(TRCFORGE_BUILD_TESTS)
  add_executable(equivalence_gen_log ${CMAKE_SOURCE_DIR}/bench/gen_log.cc)
endif()
trcforge_add_test(equivalence_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/equivalence_test.cc
  LIBS trcforge_reader trcforge_formats)
if(TARGET equivalence_test)
  target_compile_definitions(equivalence_test PRIVATE
    TRCFORGE_BINARY="$<TARGET_FILE:trcforge>"
    GEN_LOG_BINARY="$<TARGET_FILE:equivalence_gen_log>")
  add_dependencies(equivalence_test trcforge equivalence_gen_log)
endif()
