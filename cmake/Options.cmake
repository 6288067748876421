# Compile flags shared by every target of the project (not by third-party code).
include(GNUInstallDirs)

add_library(mv_options INTERFACE)
target_compile_options(mv_options INTERFACE -Wall -Wextra -Wno-unused-parameter -Werror)
target_compile_definitions(mv_options INTERFACE SPDLOG_FMT_EXTERNAL)
# g++ 12 with optimisation reports bounds it invents inside the inlined operator+ of
# std::string (a fault of that compiler); the dev build's sanitizers see real ones.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(mv_options INTERFACE
    "$<$<NOT:$<CONFIG:Debug>>:-Wno-array-bounds;-Wno-stringop-overflow;-Wno-stringop-overread;-Wno-restrict>")
endif()

# A sanitizer build's programs carry millions of relative relocations and large debug
# sections; packed relocations and compressed debug sections keep a build's disc use near
# half, with the same code.
include(CheckLinkerFlag)
foreach(flag "LINKER:-z,pack-relative-relocs" "LINKER:--compress-debug-sections=zlib")
  string(MAKE_C_IDENTIFIER "MV_LINKER_HAS_${flag}" have)
  check_linker_flag(CXX "${flag}" ${have})
  if(${have})
    target_link_options(mv_options INTERFACE "${flag}")
  endif()
endforeach()

set(MV_SAN_FLAGS)
if(MV_SANITIZE)
  set(MV_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
endif()
if(MV_SANITIZE_THREAD)
  set(MV_SAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
  target_compile_options(mv_options INTERFACE -O1)
endif()
if(MV_SAN_FLAGS)
  target_compile_options(mv_options INTERFACE ${MV_SAN_FLAGS})
  target_link_options(mv_options INTERFACE ${MV_SAN_FLAGS})
endif()
if(MV_FUZZ)
  target_compile_options(mv_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(mv_options INTERFACE -fsanitize=address,undefined)
  set(MV_SAN_FLAGS -fsanitize=address,undefined)
endif()

# Test sources compile in batches: most of a test file's time goes to instantiating the
# same GoogleTest and JSON templates, which a batch does once. MV_UNITY_BUILD=OFF gives
# one object per file (quicker to rebuild after editing one test).
option(MV_UNITY_BUILD "Compile test sources in batches" ON)
function(mv_unity_build target)
  if(MV_UNITY_BUILD)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
    # A fixture in a file's anonymous namespace is fine in a batch; g++ takes the batch's
    # included files for headers and warns.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
    endif()
  endif()
endfunction()

# Folders beside the libraries (tests, benchmarks, fuzzers, the host) include from the
# repository root and may see every header.
add_library(mv_source_root INTERFACE)
target_include_directories(mv_source_root INTERFACE ${CMAKE_SOURCE_DIR})

# Sources of a component: every .cpp in the listed folders (one class per file pair).
function(mv_collect_sources out)
  set(all)
  foreach(dir ${ARGN})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cc)
    list(APPEND all ${found})
  endforeach()
  set(${out} ${all} PARENT_SCOPE)
endfunction()

# mv_layer_view(<target> <folder>)
# Lets <target> and what links it include the headers of <folder> (relative to the
# repository root) as "<folder>/X.h", through a folder in the build tree that holds
# only a link to <folder>.
function(mv_layer_view target folder)
  set(view ${CMAKE_BINARY_DIR}/include/${target})
  get_filename_component(parent ${view}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${view}>)
  else()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${view}>)
  endif()
endfunction()

# mv_add_layer(<target> <folder> [NO_INSTALL] [PUBLIC libs...] [PRIVATE libs...]
#              [SOURCES extra...])
# One static library of every .cpp directly in <folder> (relative to the repository
# root; a folder that does not exist or holds no code gives no target). Its headers are
# reached through its view (mv_layer_view), so a target sees the headers of what it
# links and of nothing else.
function(mv_add_layer target folder)
  cmake_parse_arguments(ARG "NO_INSTALL" "" "PUBLIC;PRIVATE;SOURCES" ${ARGN})
  set(src ${CMAKE_SOURCE_DIR}/${folder})
  if(NOT IS_DIRECTORY ${src})
    return()
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${src}/*.cpp ${src}/*.cc)
  file(GLOB headers CONFIGURE_DEPENDS ${src}/*.h)
  if(NOT sources AND NOT headers AND NOT ARG_SOURCES)
    return()
  endif()
  if(sources OR ARG_SOURCES)
    add_library(${target} STATIC ${sources} ${ARG_SOURCES})
    set(scope PUBLIC)
    target_precompile_headers(${target} PRIVATE
      <string> <vector> <memory> <functional> <optional> <mutex> <map> <unordered_map>)
  else()
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  add_library(merovane::${target} ALIAS ${target})
  target_compile_features(${target} ${scope} cxx_std_20)
  mv_layer_view(${target} ${folder})
  target_include_directories(${target} ${scope}
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/merovane>)
  target_link_libraries(${target} ${scope} $<BUILD_INTERFACE:mv_options> ${ARG_PUBLIC})
  if(ARG_PRIVATE)
    if(scope STREQUAL "PUBLIC")
      target_link_libraries(${target} PRIVATE ${ARG_PRIVATE})
    else()
      target_link_libraries(${target} INTERFACE ${ARG_PRIVATE})
    endif()
  endif()
  if(MV_SAN_FLAGS)
    # An installed sanitizer build needs the sanitizer runtimes wherever it is linked.
    target_link_options(${target} INTERFACE "$<INSTALL_INTERFACE:${MV_SAN_FLAGS}>")
  endif()

  if(NOT ARG_NO_INSTALL)
    install(TARGETS ${target} EXPORT merovaneTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
    install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/merovane/${folder})
    set_property(GLOBAL APPEND PROPERTY MV_INSTALLED_LAYERS ${target})
  endif()
endfunction()
