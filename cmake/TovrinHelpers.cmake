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

# tovrin_add_test_suite(<target> DIR <tests subfolder> [DEPS <libs...>])
# One GoogleTest program per test folder, each test registered with CTest.
function(tovrin_add_test_suite target)
  cmake_parse_arguments(T "" "DIR" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${T_DIR}/*.cpp)
  if(NOT _src)
    return()
  endif()
  add_executable(${target} ${_src})
  target_link_libraries(${target} PRIVATE tovrin_test_support ${T_DEPS}
    GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${target}
    TEST_PREFIX "${T_DIR}."
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
      TIMEOUT 300)
endfunction()
