# BLF files (from the benchmark's blf_write, built here) read back by
# python-can and tshark against the version 1.1 trace and the record times.
if(TRCFORGE_BUILD_TESTS AND TARGET trcforge AND TARGET equivalence_gen_log)
  add_executable(readback_blf_write ${CMAKE_SOURCE_DIR}/bench/blf_write.cc)
  target_link_libraries(readback_blf_write PRIVATE trcforge_formats trcforge_reader)
  add_test(NAME readback_blf
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/blf_readback_test.py $<TARGET_FILE:trcforge>
            $<TARGET_FILE:equivalence_gen_log> ${CMAKE_SOURCE_DIR}/examples $<TARGET_FILE:readback_blf_write>)
  set_tests_properties(readback_blf PROPERTIES ENVIRONMENT "TZ=UTC")
endif()
