# Every output format read back by readers nobody here wrote (python-can, the
# csv module, can-utils' converters), against python-can's reading of the
# version 1.1 trace of the same log and the logs' own record times.
if(TRCFORGE_BUILD_TESTS AND TARGET trcforge AND TARGET equivalence_gen_log)
  add_test(NAME readback_python
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/readback_test.py $<TARGET_FILE:trcforge>
            $<TARGET_FILE:equivalence_gen_log> ${CMAKE_SOURCE_DIR}/examples)
  set_tests_properties(readback_python PROPERTIES ENVIRONMENT "TZ=UTC")
endif()
