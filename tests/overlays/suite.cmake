# The overlays: the splash screen's tests read the library's resource bundle from the sources.
mv_add_test_suite(overlays)
target_compile_definitions(test_overlays PRIVATE
  MV_RESOURCE_BUNDLE_DIR="${CMAKE_SOURCE_DIR}/libmerovane/resources/libmerovane.bundle")
