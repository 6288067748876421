# The real web engine's tests: one executable, label "webkit", run with a display (the
# one scripts/test opens with xvfb-run, or a virtual one of their own). Only where the
# engine is built (MV_WEBKIT).
if(TARGET platform_webkit)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/with-display)
  mv_add_test_suite(platform/webkit LIBS platform_webkit LABELS webkit)
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
  # GLib's headers only: its compile flags would keep the shared precompiled header out.
  target_include_directories(test_platform_webkit PRIVATE ${GLIB_INCLUDE_DIRS})
  # The picture window's test asks GTK for the toplevel windows.
  if(TARGET PkgConfig::WEBKIT)
    target_include_directories(test_platform_webkit PRIVATE
      $<TARGET_PROPERTY:PkgConfig::WEBKIT,INTERFACE_INCLUDE_DIRECTORIES>)
  endif()
endif()
