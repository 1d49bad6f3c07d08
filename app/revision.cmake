# Stamps the version of this build, VERSION (the project's semantic version)
# and the source revision of SOURCE_DIR, into what carries it:
#   OUT        the header of the program: TRCFORGE_REVISION (40 hexadecimal
#              digits) and TRCFORGE_VERSION ("1.1.0+44c1e07c")
#   MAN_IN     the manual page, whose @TRCFORGE_VERSION@ becomes the version
#   MAN_OUT    in the page written here
#   CPACK_OUT  the package version, read by cpack (packaging/CMakeLists.txt)
# Runs at every build and touches a file only when its content changed, so
# that a build after a new commit carries the new revision everywhere and an
# unchanged tree rebuilds nothing. A tree that is no git checkout gets 40
# zeros.
cmake_minimum_required(VERSION 3.20)
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
string(TOLOWER "${revision}" revision)
string(SUBSTRING "${revision}" 0 8 short)
set(TRCFORGE_VERSION "${VERSION}+${short}")

# write_if_changed(FILE CONTENT)
function(write_if_changed file content)
  set(old "")
  if(EXISTS ${file})
    file(READ ${file} old)
  endif()
  if(NOT old STREQUAL content)
    file(WRITE ${file} "${content}")
  endif()
endfunction()

write_if_changed(${OUT} "#define TRCFORGE_REVISION \"${revision}\"\n#define TRCFORGE_VERSION \"${TRCFORGE_VERSION}\"\n")
if(MAN_IN AND MAN_OUT)
  configure_file(${MAN_IN} ${MAN_OUT} @ONLY)
endif()
if(CPACK_OUT)
  write_if_changed(${CPACK_OUT} "set(CPACK_PACKAGE_VERSION \"${TRCFORGE_VERSION}\")\n")
endif()
