# Fuzz targets (libFuzzer): built only when configured with
# -DTRCFORGE_FUZZ=ON by clang, whose flags for the libraries
# (-fsanitize=fuzzer-no-link,address,undefined) come from scripts/fuzz.sh.
# Each target tests/fuzz/<name>.cc has its seed corpus in
# tests/fuzz/corpus/<name>/; the target fuzz_targets builds them all.
option(TRCFORGE_FUZZ "Build the libFuzzer targets under tests/fuzz (clang only)" OFF)

if(TRCFORGE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TRCFORGE_FUZZ needs clang (libFuzzer); scripts/fuzz.sh configures it")
  endif()
  add_custom_target(fuzz_targets)
  function(trcforge_add_fuzz_target name)
    add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/fuzz/${name}.cc)
    target_link_libraries(${name} PRIVATE ${ARGN})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzz_targets ${name})
  endfunction()
  trcforge_add_fuzz_target(log_reader_fuzz trcforge_reader)
  trcforge_add_fuzz_target(record_fields_fuzz trcforge_reader)
  trcforge_add_fuzz_target(trace_line_fuzz trcforge_formats)
endif()
