# What a lab rolls out: the installed tree, the manual page, the bash
# completion and the Debian package (tests/packaging_test.sh, one CTest test
# per group). The package is only built and read here, never installed.
if(TRCFORGE_BUILD_TESTS AND TARGET trcforge)
  foreach(group install manual-page completion deb)
    string(REPLACE "-" "_" name ${group})
    add_test(NAME packaging.${name} COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/packaging_test.sh ${group}
             ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR} $<TARGET_FILE:trcforge>)
  endforeach()
  # cpack runs the build's preinstall step; keep it apart from the other installing test.
  set_tests_properties(packaging.install packaging.deb PROPERTIES RESOURCE_LOCK trcforge_build_install)
endif()
