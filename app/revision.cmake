# Writes OUT with the source revision of SOURCE_DIR as TRCFORGE_REVISION, and
# touches the file only when the revision changed, so that a build after a new
# commit prints the new revision and an unchanged tree rebuilds nothing.
# A tree that is no git checkout gets 40 zeros.
execute_process(
  COMMAND git rev-parse HEAD
  WORKING_DIRECTORY ${SOURCE_DIR}
  OUTPUT_VARIABLE revision
  OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE result
  ERROR_QUIET)
if(NOT result EQUAL 0 OR NOT revision MATCHES "^[0-9a-fA-F]+$")
  set(revision "0000000000000000000000000000000000000000")
endif()
string(LENGTH "${revision}" length)
if(NOT length EQUAL 40)
  set(revision "0000000000000000000000000000000000000000")
endif()
set(content "#define TRCFORGE_REVISION \"${revision}\"\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
else()
  set(old "")
endif()
if(NOT old STREQUAL content)
  file(WRITE ${OUT} "${content}")
endif()
