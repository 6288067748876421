# The library application: its tests read the library's resource bundle from the sources.
mv_add_test_suite(application)
target_compile_definitions(test_application PRIVATE
  MV_RESOURCE_BUNDLE_DIR="${CMAKE_SOURCE_DIR}/libmerovane/resources/libmerovane.bundle")
