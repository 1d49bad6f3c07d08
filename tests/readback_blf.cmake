# BLF files written by trcforge read back by python-can and tshark against
# the version 1.1 trace and the record times.
if(TRCFORGE_BUILD_TESTS AND TARGET trcforge AND TARGET equivalence_gen_log)
  add_test(NAME readback_blf
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/blf_readback_test.py $<TARGET_FILE:trcforge>
            $<TARGET_FILE:equivalence_gen_log> ${CMAKE_SOURCE_DIR}/examples)
  set_tests_properties(readback_blf PROPERTIES ENVIRONMENT "TZ=UTC")
endif()
