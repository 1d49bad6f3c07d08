# What a lab rolls out: the installed tree, the manual page, the bash
# completion and the Debian package (tests/packaging_test.sh, one CTest test
# per group). The package is only built and read here, never installed.
if(TRCFORGE_BUILD_TESTS)
  set(packaging_test ${CMAKE_CURRENT_SOURCE_DIR}/packaging_test.sh)
  if(TARGET trcforge)
    set(packaging_binary $<TARGET_FILE:trcforge>)
  else()
    set(packaging_binary "")
  endif()

  add_test(NAME packaging.manual_page
           COMMAND bash ${packaging_test} manual-page ${CMAKE_SOURCE_DIR}
                   ${CMAKE_BINARY_DIR} ${packaging_binary})
  add_test(NAME packaging.completion
           COMMAND bash ${packaging_test} completion ${CMAKE_SOURCE_DIR}
                   ${CMAKE_BINARY_DIR} ${packaging_binary})
  if(TARGET trcforge)
    add_test(NAME packaging.install
             COMMAND bash ${packaging_test} install ${CMAKE_SOURCE_DIR}
                     ${CMAKE_BINARY_DIR} ${packaging_binary})
    add_test(NAME packaging.deb
             COMMAND bash ${packaging_test} deb ${CMAKE_SOURCE_DIR}
                     ${CMAKE_BINARY_DIR} ${packaging_binary})
    # cpack runs the build's preinstall step; keep it apart from the other
    # installing test.
    set_tests_properties(packaging.install packaging.deb
                         PROPERTIES RESOURCE_LOCK trcforge_build_install)
  endif()
endif()
