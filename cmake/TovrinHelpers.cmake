# Shared compile settings and the helpers every folder uses.

add_library(tovrin_options INTERFACE)
target_compile_options(tovrin_options INTERFACE
  -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
target_include_directories(tovrin_options INTERFACE ${PROJECT_SOURCE_DIR})

if(TOVRIN_SANITIZE)
  set(_san_flags -fsanitize=${TOVRIN_SANITIZE} -fno-omit-frame-pointer)
  if(TOVRIN_SANITIZE MATCHES "undefined")
    list(APPEND _san_flags -fno-sanitize-recover=all)
  endif()
  add_compile_options(${_san_flags})
  add_link_options(${_san_flags})
endif()

if(TOVRIN_FUZZ)
  # Coverage for libFuzzer in every library; the fuzz programs add the driver.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Precompiled headers: every test program and every Qt library parses the
# same large headers (GoogleTest, the standard library, Qt Widgets) in each of
# its files; parsed once per program instead, they take most of the build's
# time off. TOVRIN_PCH=OFF builds without them (to check that every file
# includes what it uses).
option(TOVRIN_PCH "Precompile the headers shared by the files of a program" ON)
set(TOVRIN_PCH_STD
  <algorithm> <array> <atomic> <chrono> <cmath> <cstdint> <cstdio> <cstdlib> <cstring>
  <filesystem> <functional> <map> <memory> <mutex> <optional> <set> <string> <thread>
  <utility> <vector>)
set(TOVRIN_PCH_QT
  <QApplication> <QCheckBox> <QComboBox> <QDialog> <QGridLayout> <QGroupBox>
  <QHBoxLayout> <QImage> <QLabel> <QLineEdit> <QPainter> <QPushButton>
  <QRadioButton> <QSlider> <QString> <QTimer> <QVBoxLayout> <QWidget>)

# tovrin_precompile(<target> [QT] [GTEST]): the standard headers, and Qt
# Widgets' and GoogleTest's when the target uses them.
function(tovrin_precompile target)
  cmake_parse_arguments(P "QT;GTEST" "" "" ${ARGN})
  if(NOT TOVRIN_PCH)
    return()
  endif()
  set(_h ${TOVRIN_PCH_STD})
  if(P_GTEST)
    list(APPEND _h <gtest/gtest.h> <gmock/gmock.h>)
  endif()
  if(P_QT)
    list(APPEND _h ${TOVRIN_PCH_QT})
  endif()
  list(TRANSFORM _h PREPEND "$<$<COMPILE_LANGUAGE:CXX>:")
  list(TRANSFORM _h APPEND ">")
  target_precompile_headers(${target} PRIVATE ${_h})
endfunction()

# tovrin_add_layer(<target> DIR <folder> [EXCLUDE <regex>] [DEPS <libs...>])
# One static library per layer folder; every .cpp below the folder belongs to
# it, except the files whose path matches EXCLUDE (a sub-library of its own).
function(tovrin_add_layer target)
  cmake_parse_arguments(L "" "DIR;EXCLUDE" "DEPS" ${ARGN})
  file(GLOB_RECURSE _src CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/${L_DIR}/*.cpp ${PROJECT_SOURCE_DIR}/${L_DIR}/*.c
    ${PROJECT_SOURCE_DIR}/${L_DIR}/*.h)
  if(L_EXCLUDE)
    list(FILTER _src EXCLUDE REGEX "${L_EXCLUDE}")
  endif()
  list(FILTER _src INCLUDE REGEX "\\.(cpp|c)$")
  if(NOT _src)  # a layer whose first sources are still to come
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE tovrin_options ${L_DEPS})
    return()
  endif()
  add_library(${target} STATIC ${_src})
  target_link_libraries(${target} PUBLIC tovrin_options ${L_DEPS})
endfunction()

# The test programs' own sources may be built with less optimisation than the
# code they test (CI builds them at -O0: they are most of the build's time and
# little of the tests' running time).
set(TOVRIN_UNITY_TESTS 0 CACHE STRING "Test sources compiled together per unit (0: each on its own)")
if(TOVRIN_UNITY_TESTS)
  find_package(Python3 COMPONENTS Interpreter)
endif()
set(TOVRIN_TEST_OPT "" CACHE STRING "Extra compile options of the test programs' own sources, e.g. -O0")

# tovrin_test_compile_options(<target>): applies TOVRIN_TEST_OPT.
function(tovrin_test_compile_options target)
  if(TOVRIN_TEST_OPT)
    separate_arguments(_opt NATIVE_COMMAND "${TOVRIN_TEST_OPT}")
    target_compile_options(${target} PRIVATE ${_opt})
  endif()
endfunction()

# How CTest runs a test program: in TOVRIN_TEST_SHARDS parts (GoogleTest's
# sharding, one process each, every test case in exactly one part), or with 0
# one process per test case. Starting a sanitized program with Qt or GStreamer
# costs far more than most of its test cases, so the default is shards; each
# part writes its results to test-results/<prefix><n>.xml for the count.
set(TOVRIN_TEST_SHARDS 6 CACHE STRING "Parts each test program is run in (0: one process per test case)")

# tovrin_register_tests(<target> <prefix>): the CTest tests "<prefix>.<n>of<N>"
# (or "<prefix>.<Suite>.<Case>" when not sharded).
function(tovrin_register_tests target prefix)
  if(TOVRIN_TEST_SHARDS GREATER 0)
    set(_n ${TOVRIN_TEST_SHARDS})
    string(REPLACE "/" "_" _file "${prefix}")
    foreach(_i RANGE 1 ${_n})
      math(EXPR _index "${_i} - 1")
      add_test(NAME ${prefix}.${_i}of${_n}
        COMMAND ${target} --gtest_brief=1
          --gtest_output=xml:${CMAKE_BINARY_DIR}/test-results/${_file}${_i}.xml)
      set_tests_properties(${prefix}.${_i}of${_n} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;GTEST_TOTAL_SHARDS=${_n};GTEST_SHARD_INDEX=${_index}"
        TIMEOUT 1200)
    endforeach()
  else()
    gtest_discover_tests(${target}
      TEST_PREFIX "${prefix}."
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
        TIMEOUT 300)
  endif()
endfunction()

# tovrin_add_test_suite(<target> DIR <tests subfolder> [QT] [DEPS <libs...>])
# One GoogleTest program per test folder, each test registered with CTest.
# QT: the program uses Qt Widgets (its headers are precompiled too).
function(tovrin_add_test_suite target)
  cmake_parse_arguments(T "QT" "DIR" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${T_DIR}/*.cpp)
  if(NOT _src)
    return()
  endif()
  add_executable(${target} ${_src})
  target_link_libraries(${target} PRIVATE tovrin_test_support ${T_DEPS}
    GTest::gtest GTest::gmock GTest::gtest_main)
  tovrin_test_compile_options(${target})
  if(TOVRIN_UNITY_TESTS AND Python3_Interpreter_FOUND)
    # A source that declares a name another one mentions is compiled alone:
    # in a shared unit the other would find it silently.
    execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/unity_alone.py ${_src}
      OUTPUT_VARIABLE _alone RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "tools/unity_alone.py failed for ${target}")
    endif()
    string(REPLACE "\n" ";" _alone "${_alone}")
    list(FILTER _alone EXCLUDE REGEX "^$")
    if(_alone)
      set_source_files_properties(${_alone} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endif()
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${TOVRIN_UNITY_TESTS})
    # GCC takes the sources included into a unit for headers, and warns of
    # every test fixture in their anonymous namespaces.
    target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  endif()
  if(T_QT)
    tovrin_precompile(${target} GTEST QT)
  else()
    tovrin_precompile(${target} GTEST)
  endif()
  tovrin_register_tests(${target} "${T_DIR}")
endfunction()
