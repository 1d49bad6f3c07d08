# End-to-end tests of the built trcforge binary, and the interoperability
# check of its trace files with python-can's reader.
trcforge_add_test(e2e_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_test.cc
  LIBS trcforge_test_support)
if(TARGET e2e_test)
  target_compile_definitions(e2e_test PRIVATE
    TRCFORGE_BINARY="$<TARGET_FILE:trcforge>"
    TRCFORGE_GOLDEN_DIR="${CMAKE_CURRENT_LIST_DIR}/golden")
  add_dependencies(e2e_test trcforge)
  add_test(NAME interop_python
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/interop_test.py $<TARGET_FILE:trcforge>)
endif()
