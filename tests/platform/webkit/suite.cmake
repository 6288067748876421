# The real web engine's tests: one executable, label "webkit", run with a display (the
# one scripts/test opens with xvfb-run, or a virtual one of their own). Only where the
# engine is built (MV_WEBKIT).
if(TARGET platform_webkit)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/with-display)
  mv_add_test_suite(platform/webkit LIBS platform_webkit LABELS webkit)
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
  # The wrapper itself: many starts side by side, and a server that cannot start.
  add_test(NAME with_display COMMAND ${CMAKE_CURRENT_LIST_DIR}/with-display-test)
  set_tests_properties(with_display PROPERTIES LABELS webkit TIMEOUT 300)
  # GLib's headers only: its compile flags would keep the shared precompiled header out.
  target_include_directories(test_platform_webkit PRIVATE ${GLIB_INCLUDE_DIRS})
  # The picture window's test asks GTK for the toplevel windows.
  if(TARGET PkgConfig::WEBKIT)
    target_include_directories(test_platform_webkit PRIVATE
      $<TARGET_PROPERTY:PkgConfig::WEBKIT,INTERFACE_INCLUDE_DIRECTORIES>)
  endif()
endif()
