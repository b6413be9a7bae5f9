# GoogleTest from Debian's sources, and the helpers that register test programs to run under Wine.

set(TOLVA_GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${TOLVA_GTEST_SRC} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)

# Folder of the test language module (tests/standins/lan builds it), known before any test folder
# is configured: the folders are added in name order, and tests/sheets comes before tests/standins.
set(TOLVA_LAN_DIR "${CMAKE_BINARY_DIR}/tests/ppd")

# Windows form of a Unix path as Wine sees it (drive Z: maps /), with backslashes doubled for a C literal.
function(tolva_windows_path out unix_path)
  get_filename_component(_abs "${unix_path}" ABSOLUTE)
  string(REPLACE "/" "\\\\" _win "${_abs}")
  set(${out} "Z:${_win}" PARENT_SCOPE)
endfunction()

# Adds every folder below DIR that has a CMakeLists.txt (looking deeper only where one has none), so
# that each subsystem owns its own folders, e.g. tests/ppd and tests/standins/lan.
function(tolva_add_children dir)
  file(GLOB _children LIST_DIRECTORIES true RELATIVE "${CMAKE_SOURCE_DIR}/${dir}" "${CMAKE_SOURCE_DIR}/${dir}/*")
  list(SORT _children)
  foreach(child ${_children})
    set(_path "${CMAKE_SOURCE_DIR}/${dir}/${child}")
    if(NOT IS_DIRECTORY "${_path}")
      continue()
    elseif(EXISTS "${_path}/CMakeLists.txt")
      add_subdirectory("${_path}" "${CMAKE_BINARY_DIR}/${dir}/${child}")
    else()
      tolva_add_children("${dir}/${child}")
    endif()
  endforeach()
endfunction()

# Path macros for a target: TOLVA_SOURCE_DIR(_W), TOLVA_SHARED_DIR(_W), TOLVA_BINARY_DIR(_W) (the
# target's build folder), as Windows paths in narrow and wide literals, through a forced include.
function(tolva_target_paths target)
  tolva_windows_path(_src "${CMAKE_SOURCE_DIR}")
  tolva_windows_path(_shared "${TOLVA_SHARED_DIR}")
  tolva_windows_path(_bin "${CMAKE_CURRENT_BINARY_DIR}")
  set(_dir "${CMAKE_CURRENT_BINARY_DIR}/_paths")
  file(WRITE "${_dir}/TolvaTestPaths.h.in"
"#pragma once
#define TOLVA_SOURCE_DIR \"${_src}\"
#define TOLVA_SHARED_DIR \"${_shared}\"
#define TOLVA_BINARY_DIR \"${_bin}\"
#define TOLVA_SOURCE_DIR_W L\"${_src}\"
#define TOLVA_SHARED_DIR_W L\"${_shared}\"
#define TOLVA_BINARY_DIR_W L\"${_bin}\"
")
  configure_file("${_dir}/TolvaTestPaths.h.in" "${_dir}/TolvaTestPaths.h" COPYONLY)
  target_include_directories(${target} PRIVATE "${_dir}")
  target_compile_options(${target} PRIVATE -include TolvaTestPaths.h)
endfunction()

set(TOLVA_WINE_RUN "${CMAKE_SOURCE_DIR}/tools/wine-exec")
set(TOLVA_TEST_ENV
  "WINEPREFIX=${TOLVA_WINEPREFIX}"
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=mscoree,mshtml="
  "TOLVA_WIDTH=${TOLVA_WIDTH}")

# Registers a command run under Wine as a CTest test with the project's environment.
function(tolva_add_wine_test name)
  cmake_parse_arguments(ARG "" "WORKING_DIRECTORY;TIMEOUT" "COMMAND;LABELS" ${ARGN})
  if(NOT ARG_WORKING_DIRECTORY)
    set(ARG_WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}")
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${TOLVA_WINE_RUN} ${ARG_COMMAND} WORKING_DIRECTORY "${ARG_WORKING_DIRECTORY}")
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${TOLVA_TEST_ENV}" TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# tolva_add_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [ARGS ...])
# builds <name>.exe with gtest_main and runs it under Wine as one CTest test.
function(tolva_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  tolva_target_paths(${name})
  tolva_add_wine_test(${name}
    COMMAND $<TARGET_FILE:${name}> --gtest_color=no ${ARG_ARGS}
    LABELS ${ARG_LABELS} TIMEOUT ${ARG_TIMEOUT})
endfunction()
