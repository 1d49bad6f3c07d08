# blf_write: a text log into a BLF file through BlfWriter at any level, with the writer's
# time alone when asked (bench/blf_levels.sh).
add_executable(blf_write ${CMAKE_CURRENT_LIST_DIR}/blf_write.cc)
target_link_libraries(blf_write PRIVATE trcforge_formats trcforge_reader)
