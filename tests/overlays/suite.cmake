# The overlays: the splash screen's tests read the library's resource bundle from the
# sources; the scanner's show barcodes made by zint (a test-only library).
mv_add_test_suite(overlays)
target_compile_definitions(test_overlays PRIVATE
  MV_RESOURCE_BUNDLE_DIR="${CMAKE_SOURCE_DIR}/libmerovane/resources/libmerovane.bundle")
include(${CMAKE_SOURCE_DIR}/tests/support/barcodes/zint.cmake)
mv_use_zint_barcodes(test_overlays)
