# quorla_layers(PLATFORM OUT): the folders of cmake/layers.txt built for PLATFORM (linux,
# windows or bench), bottom layer first.
function(quorla_layers platform out)
  file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/layers.txt lines REGEX "^[^#]")
  set(dirs "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
    list(POP_FRONT fields dir)
    if(platform IN_LIST fields)
      list(APPEND dirs ${dir})
    endif()
  endforeach()
  set(${out} ${dirs} PARENT_SCOPE)
endfunction()

# quorla_os_sources(TARGET [HALF half] NAME...): adds NAME_<half>.cpp of the calling folder for
# each OS service NAME; the half is the platform's (posix, win) unless HALF names a library's.
function(quorla_os_sources target)
  cmake_parse_arguments(O "" "HALF" "" ${ARGN})
  if(NOT O_HALF)
    set(O_HALF ${QUORLA_PLATFORM})
  endif()
  foreach(name IN LISTS O_UNPARSED_ARGUMENTS)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${name}_${O_HALF}.cpp)
  endforeach()
endfunction()

# quorla_test(NAME SOURCES... LIBS... [LABELS...]): one GoogleTest executable, each case a
# CTest test carrying the labels.
function(quorla_test name)
  if(NOT QUORLA_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/test_environment.cpp)
  target_compile_definitions(${name} PRIVATE QUORLA_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             QUORLA_TEST_BINARY_DIR="${CMAKE_BINARY_DIR}")
  target_link_libraries(${name} PRIVATE ${T_LIBS} quorla_test_support GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  set(properties "")
  if(T_LABELS)
    set(properties PROPERTIES LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 ${properties})
endfunction()

# quorla_test_launcher(NAME SETTINGS_SOURCE): the real launcher (app/main.cpp and the platform's
# entry) with trust settings of a test's own, which replace the build's (inet/trust_settings.h),
# built into <build>/tests, never installed. A shop profile or package build has none
# (QUORLA_TEST_LAUNCHERS, cmake/shop_profile.cmake, refuses them there; the settings sources
# also refuse to compile there).
function(quorla_test_launcher name settings)
  if(NOT QUORLA_BUILD_TESTS OR NOT QUORLA_TEST_LAUNCHERS)
    return()
  endif()
  add_executable(${name} ${CMAKE_SOURCE_DIR}/app/main.cpp ${CMAKE_SOURCE_DIR}/app/entry_${QUORLA_PLATFORM}.cpp
                 ${settings})
  target_link_libraries(${name} PRIVATE quorla_app)
  if(WIN32)
    set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE ON)
    target_link_options(${name} PRIVATE -municode)
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endfunction()

# quorla_fuzz(NAME SOURCES... LIBS...): a libFuzzer target, built only with -DQUORLA_FUZZ=ON
# (clang). Binaries land in build/fuzz/. In test builds the same sources become NAME_replay,
# a CTest test that feeds the kept inputs of <folder>/fuzz_corpus/NAME and
# <folder>/fuzz_regressions/NAME (crash inputs; NAME without "_fuzz" works too) through the target once.
function(quorla_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(QUORLA_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  elseif(QUORLA_BUILD_TESTS)
    add_executable(${name}_replay ${F_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/fuzz_replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${F_LIBS})
    set_target_properties(${name}_replay PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    string(REGEX REPLACE "_fuzz$" "" short ${name})
    set(dirs)
    foreach(kind fuzz_corpus fuzz_regressions)
      list(APPEND dirs ${CMAKE_CURRENT_SOURCE_DIR}/${kind}/${name} ${CMAKE_CURRENT_SOURCE_DIR}/${kind}/${short})
    endforeach()
    add_test(NAME ${name}_replay COMMAND ${name}_replay ${dirs})
    set_tests_properties(${name}_replay PROPERTIES LABELS fuzz_replay)
  endif()
endfunction()
