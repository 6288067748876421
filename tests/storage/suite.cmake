# The storage tests, and the helper the crash-safety test starts and kills.
mv_add_test_suite(storage LIBS SQLiteCpp)
