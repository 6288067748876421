# The tabs with real pages in the real web engine: label "webkit", run with a display.
if(TARGET platform_webkit)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/platform/webkit/with-display)
  mv_add_test_suite(containers/webkit LIBS platform_webkit LABELS webkit)
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
endif()
