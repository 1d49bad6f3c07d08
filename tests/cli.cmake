# The command-line cases (tests/cli/<name>.sh against tests/cli/<name>.out,
# run by tests/cli/run.py): one CTest test per case, cli.<name>, and the same
# case converting four logs at a time, cli_j4.<name>, which must give the same
# transcript.
if(TRCFORGE_BUILD_TESTS AND TARGET trcforge)
  file(GLOB cli_cases CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/cli/*.sh)
  list(FILTER cli_cases EXCLUDE REGEX "/lib\\.sh$")
  foreach(case ${cli_cases})
    get_filename_component(name ${case} NAME_WE)
    foreach(variant "cli;" "cli_j4;-j 4")
      list(GET variant 0 prefix)
      list(GET variant 1 extra)
      add_test(NAME ${prefix}.${name}
               COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/cli/run.py --bin $<TARGET_FILE:trcforge>
                       --examples ${CMAKE_SOURCE_DIR}/examples --extra-args "${extra}" ${name})
      set_tests_properties(${prefix}.${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
    endforeach()
  endforeach()
endif()
