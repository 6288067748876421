# The sample API server: its shop logic in-process, its command line as a child process.
if(TARGET sample-api-server)
  mv_add_test_suite(tools LIBS mv_sample_shop)
  add_dependencies(test_tools sample-api-server)
  target_compile_definitions(test_tools PRIVATE
    MV_SAMPLE_API_SERVER="$<TARGET_FILE:sample-api-server>"
    MV_SAMPLE_SHOP_DIR="${CMAKE_SOURCE_DIR}/app/sample/shop")
endif()
