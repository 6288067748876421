# The host application, run as a child process against the loopback API peer.
if(TARGET app)
  mv_add_test_suite(app)
  add_dependencies(test_app app)
  target_compile_definitions(test_app PRIVATE MV_APP_EXECUTABLE="$<TARGET_FILE:app>"
    MV_APP_PG_API_URL="${MV_APP_PG_API_URL}" MV_APP_WORKSPACE_API_URL="${MV_APP_WORKSPACE_API_URL}")
  target_sources(test_app PRIVATE ${CMAKE_SOURCE_DIR}/app/AppDelegate.cpp)
endif()
