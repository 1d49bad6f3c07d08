# What a run tells its user and its scripts (tests/run_feedback_test.py):
# the status line and summary through a pseudo-terminal, the --report JSON
# lines against the files on disk, and a reason for every failed exit.
if(TRCFORGE_BUILD_TESTS AND TARGET trcforge)
  foreach(case StatusLineTest ReportTest ExitTest)
    add_test(NAME run_feedback.${case}
             COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/run_feedback_test.py $<TARGET_FILE:trcforge> ${case})
  endforeach()
endif()
