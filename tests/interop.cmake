# The interoperability check of trcforge's trace files with python-can's
# reader.
if(TRCFORGE_BUILD_TESTS AND TARGET trcforge)
  add_test(NAME interop_python
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/interop_test.py $<TARGET_FILE:trcforge>)
endif()
