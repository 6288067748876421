# The web cache tests, and the helper the killed-writer test starts and kills.
mv_add_test_suite(webcache LIBS SQLiteCpp)

add_executable(webcache_killed_writer ${CMAKE_CURRENT_SOURCE_DIR}/webcache/helper/WebCacheKilledWriter.cpp)
target_link_libraries(webcache_killed_writer PRIVATE merovane_application mv_source_root)
add_dependencies(test_webcache webcache_killed_writer)
target_compile_definitions(test_webcache PRIVATE MV_WEBCACHE_KILLED_WRITER="$<TARGET_FILE:webcache_killed_writer>")
