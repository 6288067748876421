# mv_use_zint_barcodes(<target>): barcode pictures made by zint, for tests only.
find_path(ZINT_INCLUDE_DIR zint.h REQUIRED)
find_library(ZINT_LIBRARY zint REQUIRED)
function(mv_use_zint_barcodes target)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/barcodes/ZintBarcodes.cpp)
  target_include_directories(${target} SYSTEM PRIVATE ${ZINT_INCLUDE_DIR})
  target_link_libraries(${target} PRIVATE ${ZINT_LIBRARY})
endfunction()
