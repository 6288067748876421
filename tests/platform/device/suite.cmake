# The device tests; the camera's show barcodes made by zint (a test-only library).
mv_add_test_suite(platform/device)
include(${CMAKE_SOURCE_DIR}/tests/support/barcodes/zint.cmake)
mv_use_zint_barcodes(test_platform_device)
# The label table compares the session with the reader alone.
target_link_libraries(test_platform_device PRIVATE ZXing::ZXing)
