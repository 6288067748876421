# The storage tests, and the helper the crash-safety test starts and kills.
mv_add_test_suite(storage LIBS SQLiteCpp)
target_compile_definitions(test_storage PRIVATE MV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

add_executable(storage_crash_writer ${CMAKE_CURRENT_SOURCE_DIR}/storage/helper/StorageCrashWriter.cpp)
target_link_libraries(storage_crash_writer PRIVATE merovane_application mv_source_root)
add_dependencies(test_storage storage_crash_writer)
target_compile_definitions(test_storage PRIVATE MV_STORAGE_CRASH_WRITER="$<TARGET_FILE:storage_crash_writer>")
