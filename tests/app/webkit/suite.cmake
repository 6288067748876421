# The host application with pages in the real engine: label "webkit", run with a display.
if(TARGET app AND TARGET platform_webkit AND TARGET sample-api-server)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/platform/webkit/with-display)
  mv_add_test_suite(app/webkit LABELS webkit)
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
  add_dependencies(test_app_webkit app sample-api-server)
  target_compile_definitions(test_app_webkit PRIVATE MV_APP_EXECUTABLE="$<TARGET_FILE:app>"
    MV_SAMPLE_API_SERVER="$<TARGET_FILE:sample-api-server>"
    MV_CMAKE_COMMAND="${CMAKE_COMMAND}" MV_BUILD_DIR="${CMAKE_BINARY_DIR}"
    MV_APP_WEBKIT_EXTENSION="$<TARGET_PROPERTY:app,MV_WEBKIT_EXTENSION>"
    MV_SAMPLE_SHOP="${CMAKE_SOURCE_DIR}/app/sample/shop")
  # A session bus of the tests' own for a later start (Debian package dbus).
  find_program(MV_DBUS_DAEMON dbus-daemon)
  if(MV_DBUS_DAEMON)
    target_compile_definitions(test_app_webkit PRIVATE MV_DBUS_DAEMON="${MV_DBUS_DAEMON}")
  endif()
endif()
