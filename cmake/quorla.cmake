# quorla_test(NAME SOURCES... LIBS...): one GoogleTest executable, each case a CTest test.
function(quorla_test name)
  if(NOT QUORLA_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/cmake/test_environment.cpp)
  target_compile_definitions(${name} PRIVATE QUORLA_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             QUORLA_TEST_BINARY_DIR="${CMAKE_BINARY_DIR}")
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
endfunction()

# quorla_fuzz(NAME SOURCES... LIBS...): a libFuzzer target, built only with -DQUORLA_FUZZ=ON
# (clang). Binaries land in build/fuzz/.
function(quorla_fuzz name)
  if(NOT QUORLA_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endfunction()
