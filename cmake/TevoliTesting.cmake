# Unit tests: a GoogleTest binary per program, labelled "unit".
function(tevoli_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT 120)
endfunction()

# End-to-end tests: a Python unittest module that runs the built binaries against
# private services from tests/harness. Labelled "e2e". A crash of one of our programs
# anywhere under it is written to the crash log (tests/harness/crash_record.cpp).
set(TEVOLI_CRASH_LOG ${CMAKE_BINARY_DIR}/Testing/crashes.log)
set(TEVOLI_CRASH_RECORD "LD_PRELOAD=$<TARGET_FILE:tevoli_crash_record>;TEVOLI_CRASH_LOG=${TEVOLI_CRASH_LOG}")
function(tevoli_e2e_test name script)
  cmake_parse_arguments(T "" "TIMEOUT" "WRAPPER" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name}
    COMMAND ${T_WRAPPER} ${Python3_EXECUTABLE} -m unittest -v ${script}
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(${name} PROPERTIES
    LABELS e2e TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "TEVOLI_BIN_DIR=${CMAKE_BINARY_DIR}/bin;TEVOLI_SOURCE_DIR=${CMAKE_SOURCE_DIR};PYTHONPATH=${CMAKE_SOURCE_DIR}/tests/harness;PYTHONDONTWRITEBYTECODE=1;\
${TEVOLI_CRASH_RECORD};TEVOLI_TEST_NAME=${name}")
endfunction()

# Fuzz targets (clang only): built and run for a bounded number of inputs, labelled "fuzz".
function(tevoli_fuzz_target name)
  if(NOT TEVOLI_FUZZ)
    return()
  endif()
  cmake_parse_arguments(T "" "RUNS" "SOURCES;LIBS" ${ARGN})
  if(NOT T_RUNS)
    set(T_RUNS 200000)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${T_LIBS} -fsanitize=fuzzer)
  add_test(NAME ${name} COMMAND ${name} -runs=${T_RUNS} -max_len=4096 -rss_limit_mb=2048)
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()

