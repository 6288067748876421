# The library's web view over the real web engine: one executable, label "webkit", run
# with a display and the engine's sanitizer suppressions, like the engine's own tests.
if(TARGET platform_webkit)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/platform/webkit/with-display)
  mv_add_test_suite(bridge_webkit LIBS platform_webkit LABELS webkit)
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
endif()
