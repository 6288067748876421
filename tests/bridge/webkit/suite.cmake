# The web view's page round trip in the real web engine: label "webkit", run with a display.
if(TARGET platform_webkit)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/platform/webkit/with-display)
  mv_add_test_suite(bridge/webkit LIBS platform_webkit LABELS webkit)
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
endif()
# The sample shop's page library, as shop pages carry it.
if(TARGET test_bridge_webkit)
  target_compile_definitions(test_bridge_webkit PRIVATE
    MV_SAMPLE_SHOP="${CMAKE_SOURCE_DIR}/app/sample/shop")
endif()
