# The storage tests, and the helper the crash-safety test starts and kills.
mv_add_test_suite(storage LIBS SQLiteCpp)
target_compile_definitions(test_storage PRIVATE MV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
