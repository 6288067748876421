# The installed package: headers below include/merovane, the static libraries, a CMake
# package (find_package(merovane CONFIG) gives merovane::merovane) and merovane.pc.
include(CMakePackageConfigHelpers)

set(MV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/merovane)
install(EXPORT merovaneTargets NAMESPACE merovane:: DESTINATION ${MV_CMAKE_DIR})
configure_package_config_file(cmake/merovaneConfig.cmake.in
  ${CMAKE_BINARY_DIR}/merovaneConfig.cmake INSTALL_DESTINATION ${MV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/merovaneConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/merovaneConfig.cmake ${CMAKE_BINARY_DIR}/merovaneConfigVersion.cmake
  DESTINATION ${MV_CMAKE_DIR})

# pkg-config: the libraries highest first, then what they stand on.
get_property(mv_installed GLOBAL PROPERTY MV_INSTALLED_LAYERS)
list(REVERSE mv_installed)
set(MV_PC_LIBS)
foreach(lib ${mv_installed})
  get_target_property(type ${lib} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    string(APPEND MV_PC_LIBS " -l${lib}")
  endif()
endforeach()
string(APPEND MV_PC_LIBS " -lSQLiteCpp -pthread")
list(JOIN MV_SAN_FLAGS " " MV_PC_SAN_FLAGS)
if(MV_PC_SAN_FLAGS)
  string(APPEND MV_PC_LIBS " ${MV_PC_SAN_FLAGS}")
endif()
# pkg-config's include folders: those the installed targets give a consumer, in order (the
# wallet's generated messages include each other from a folder of their own).
set(MV_PC_CFLAGS)
foreach(lib ${mv_installed})
  get_target_property(dirs ${lib} INTERFACE_INCLUDE_DIRECTORIES)
  string(REGEX MATCHALL "\\$<INSTALL_INTERFACE:[^>]*>" dirs "${dirs}")
  foreach(dir ${dirs})
    string(REGEX REPLACE "^\\$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}(.*)>$"
      "-I\${includedir}\\1" flag "${dir}")
    if(flag STREQUAL dir)
      message(FATAL_ERROR "merovane.pc: ${lib} gives an include folder outside the headers' own: ${dir}")
    endif()
    if(NOT flag IN_LIST MV_PC_CFLAGS)
      list(APPEND MV_PC_CFLAGS ${flag})
    endif()
  endforeach()
endforeach()
list(JOIN MV_PC_CFLAGS " " MV_PC_CFLAGS)
# The prefix is found from the file's own place, so the package may move.
file(RELATIVE_PATH MV_PC_PREFIX_FROM_FILE /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" MV_PC_PREFIX_FROM_FILE "${MV_PC_PREFIX_FROM_FILE}")
configure_file(cmake/merovane.pc.in ${CMAKE_BINARY_DIR}/merovane.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/merovane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
