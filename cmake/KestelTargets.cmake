# Helpers that turn the folder layout into targets: one library per layer folder, one test
# binary per test folder, one executable per benchmark or fuzz source.

# kestel_layer(<target> <folder under src> [DEPS <targets>...])
# Compiles every .cpp below the folder into a static library (an interface library while the
# folder is still empty). Sources are globbed so that adding a module needs no CMake edit.
function(kestel_layer target folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# kestel_test(<name> <folder under tests> LIBS <targets>...)
# One GoogleTest binary per folder, linked with the shared helpers of tests/support (defined in
# tests/CMakeLists.txt); every .cpp in the folder is part of the binary. Skipped while the
# folder has no sources. Tests are discovered when ctest runs, labelled with the folder name.
function(kestel_test name folder)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_include_directories(${name}_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name}_tests PRIVATE ${ARG_LIBS} kestel_test_support GTest::gtest
    GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name}_tests PRIVATE
    KESTEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KESTEL_TESTVECTORS_DIR="${KESTEL_TESTVECTORS_DIR}")
  gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${name}
    SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
    DISCOVERY_TIMEOUT 60)
endfunction()

# kestel_bench(<name> LIBS <targets>...) builds bench/<name>.cpp into bench_<name>.
function(kestel_bench name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(bench_${name} ${PROJECT_SOURCE_DIR}/bench/${name}.cpp)
  target_link_libraries(bench_${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()

# kestel_fuzz(<name> LIBS <targets>...) builds fuzz/<name>.cpp into fuzz_<name>; its seed corpus
# lives in fuzz/corpus/<name>/.
function(kestel_fuzz name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(fuzz_${name} ${PROJECT_SOURCE_DIR}/fuzz/${name}.cpp)
  target_link_libraries(fuzz_${name} PRIVATE ${ARG_LIBS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
endfunction()
