# Project-wide helpers.

set(KMR_WARNINGS -Wall -Wextra)

option(KMR_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(KMR_FUZZ)
  # Every library gets coverage instrumentation; the fuzzers link libFuzzer.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(KMR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# kmr_library(name SOURCES ... [DEPS ...])
function(kmr_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${KMR_WARNINGS})
  if(A_DEPS)
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

# kmr_test(name SOURCES ... [DEPS ...] [TIMEOUT s] [SERIAL]): a GoogleTest
# program run by CTest. On the host every case is its own CTest test; the
# Windows build runs each program as one test under wine64 (the toolchain's
# emulator). Tests that start X servers or other programs (SERIAL) and every
# Windows test (one wineserver for all) run one at a time.
function(kmr_test name)
  if(NOT KMR_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "SERIAL" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${KMR_WARNINGS})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gtest_main)
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT} RUN_SERIAL TRUE)
  else()
    include(GoogleTest)
    set(serial FALSE)
    if(A_SERIAL)
      set(serial TRUE)
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${A_TIMEOUT} RUN_SERIAL ${serial})
  endif()
endfunction()

# kmr_fuzzer(name SOURCES ... [DEPS ...]): a libFuzzer target, built only in the
# clang fuzzing configuration (tools/build.sh fuzz).
function(kmr_fuzzer name)
  if(NOT KMR_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${KMR_WARNINGS} -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${A_DEPS})
endfunction()
