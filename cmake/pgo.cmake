# Profile-guided optimisation of the conversion code (GCC 11 and later).
#
# An instrumented build of its own (<build>/pgo-training) converts generated
# logs of every record layout into every format; the libraries that convert
# are then compiled here with the profile that run left. The profile is kept
# in <build>/pgo-profile and replaced only when a training run gives other
# counts, so a change outside the converting libraries recompiles nothing
# more than it would without this. The output of the program is the same
# with or without it: the tests run on the optimised build.
#
# On by default for optimised builds with GCC; -DTRCFORGE_PGO=OFF turns it off
# (for a quicker edit-compile cycle, say).

set(trcforge_pgo_default OFF)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 11
   AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo)$"
   AND NOT TRCFORGE_SANITIZE AND NOT TRCFORGE_FUZZ AND NOT TRCFORGE_PGO_PROFILE_DIR)
  set(trcforge_pgo_default ON)
endif()
option(TRCFORGE_PGO "Compile the converting libraries with a profile of a training run" ${trcforge_pgo_default})

# The libraries a conversion spends its time in; the command line, progress
# and report are left as they are.
set(trcforge_pgo_libraries
    trcforge_stream trcforge_log trcforge_fs trcforge_reader trcforge_output trcforge_formats trcforge_convert)

if(TRCFORGE_PGO_PROFILE_DIR)
  # The training build: instrument, run, keep the profile when it changed.
  set(new_profile ${CMAKE_BINARY_DIR}/profile-new)
  foreach(library ${trcforge_pgo_libraries})
    target_compile_options(${library} PRIVATE -fprofile-generate -fprofile-update=prefer-atomic
                           -fprofile-dir=${new_profile} -fprofile-prefix-path=${CMAKE_BINARY_DIR})
  endforeach()
  target_link_options(trcforge PRIVATE -fprofile-generate)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/trained
    COMMAND bash ${CMAKE_SOURCE_DIR}/cmake/pgo_train.sh $<TARGET_FILE:trcforge> $<TARGET_FILE:gen_log>
            ${CMAKE_BINARY_DIR}/training ${new_profile} ${TRCFORGE_PGO_PROFILE_DIR}
    COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/trained
    # Trained again when a converting library changed, not for every new
    # link of the program (the counts of a run vary a little with timing).
    DEPENDS ${trcforge_pgo_libraries} ${CMAKE_SOURCE_DIR}/cmake/pgo_train.sh
    COMMENT "Training run of the instrumented trcforge")
  add_custom_target(pgo_training DEPENDS ${CMAKE_BINARY_DIR}/trained)
  add_dependencies(pgo_training trcforge gen_log)
elseif(TRCFORGE_PGO)
  include(ExternalProject)
  set(profile ${CMAKE_BINARY_DIR}/pgo-profile)
  if(CMAKE_GENERATOR MATCHES "Makefiles")
    set(training_build $(MAKE) -C <BINARY_DIR> pgo_training)  # shares the jobs of the outer make
  else()
    set(training_build ${CMAKE_COMMAND} --build <BINARY_DIR> --target pgo_training --parallel)
  endif()
  ExternalProject_Add(trcforge_pgo_training
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/pgo-training
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
               -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER} -DTRCFORGE_PGO=OFF -DTRCFORGE_PGO_PROFILE_DIR=${profile}
               -DTRCFORGE_BUILD_TESTS=OFF -DTRCFORGE_BUILD_BENCH=ON
    BUILD_COMMAND ${training_build}
    INSTALL_COMMAND ""
    BUILD_ALWAYS TRUE
    BUILD_BYPRODUCTS ${profile}/profile.stamp)
  foreach(library ${trcforge_pgo_libraries})
    target_compile_options(${library} PRIVATE -fprofile-use -fprofile-partial-training -fprofile-dir=${profile}
                           -fprofile-prefix-path=${CMAKE_BINARY_DIR} -Wno-missing-profile)
    add_dependencies(${library} trcforge_pgo_training)
    # Recompile when the profile changes.
    get_target_property(sources ${library} SOURCES)
    get_target_property(source_dir ${library} SOURCE_DIR)
    list(TRANSFORM sources PREPEND ${source_dir}/)
    set_source_files_properties(${sources} TARGET_DIRECTORY ${library}
                                PROPERTIES OBJECT_DEPENDS ${profile}/profile.stamp)
  endforeach()
endif()
