# The host application, run as a child process against the loopback API peer.
if(TARGET app)
  mv_add_test_suite(app)
  add_dependencies(test_app app)
  # The component "app" installed from this build (InstalledApp.h).
  target_compile_definitions(test_app PRIVATE MV_CMAKE_COMMAND="${CMAKE_COMMAND}"
    MV_BUILD_DIR="${CMAKE_BINARY_DIR}")
  if(TARGET platform_webkit)
    target_compile_definitions(test_app PRIVATE
      MV_APP_WEBKIT_EXTENSION="$<TARGET_PROPERTY:app,MV_WEBKIT_EXTENSION>")
  endif()
  target_compile_definitions(test_app PRIVATE MV_APP_EXECUTABLE="$<TARGET_FILE:app>"
    MV_APP_DESKTOP_ENTRY="$<TARGET_PROPERTY:app,MV_DESKTOP_ENTRY>"
    MV_APP_PG_API_URL="${MV_APP_PG_API_URL}" MV_APP_WORKSPACE_API_URL="${MV_APP_WORKSPACE_API_URL}")
  target_sources(test_app PRIVATE ${CMAKE_SOURCE_DIR}/app/AppDelegate.cpp
    ${CMAKE_SOURCE_DIR}/app/DesktopSession.cpp ${CMAKE_SOURCE_DIR}/app/HandedOverLinks.cpp
    ${CMAKE_SOURCE_DIR}/app/HeadlessShopPage.cpp ${CMAKE_SOURCE_DIR}/app/HomeFolderLock.cpp
    ${CMAKE_SOURCE_DIR}/app/HostArguments.cpp ${CMAKE_SOURCE_DIR}/app/HostSignals.cpp
    ${CMAKE_SOURCE_DIR}/app/LogText.cpp
    ${CMAKE_SOURCE_DIR}/app/RunRecorder.cpp)
  # GLib's headers and libraries only: its compile flags would keep the shared
  # precompiled header out.
  target_include_directories(test_app PRIVATE ${GLIB_INCLUDE_DIRS})
  target_link_libraries(test_app PRIVATE ${GLIB_LINK_LIBRARIES})
  # A session bus of the tests' own for the single-instance road (Debian package dbus).
  find_program(MV_DBUS_DAEMON dbus-daemon)
  target_compile_definitions(test_app PRIVATE MV_DBUS_DAEMON="${MV_DBUS_DAEMON}")
  if(TARGET sample-api-server)
    add_dependencies(test_app sample-api-server)
    target_compile_definitions(test_app PRIVATE
      MV_SAMPLE_API_SERVER="$<TARGET_FILE:sample-api-server>")
  endif()
endif()

# The run command, headless, over this build (a build folder of a preset only).
get_filename_component(mv_run_preset ${CMAKE_BINARY_DIR} NAME)
if(TARGET app AND TARGET sample-api-server AND
   CMAKE_BINARY_DIR STREQUAL "${CMAKE_SOURCE_DIR}/build/${mv_run_preset}")
  add_test(NAME run_command_headless
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/run-command-test ${mv_run_preset})
  set_tests_properties(run_command_headless PROPERTIES LABELS test_app TIMEOUT 300)
endif()

# A slow disc for the web cache's files (StopKeepsTest), preloaded into the shell.
if(TARGET test_app)
  add_library(mv_slow_files MODULE ${CMAKE_CURRENT_SOURCE_DIR}/app/SlowFiles.c)
  set_target_properties(mv_slow_files PROPERTIES PREFIX "")
  target_link_libraries(mv_slow_files PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(test_app mv_slow_files)
  target_compile_definitions(test_app PRIVATE MV_SLOW_FILES="$<TARGET_FILE:mv_slow_files>")
endif()
