# Shared build rules: one INTERFACE target carries the warning and sanitizer flags that every
# library, program and test links, and two helpers add a library and its test binary.

add_library(quorvel_flags INTERFACE)
target_compile_options(quorvel_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
  -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough)
if(QUORVEL_WERROR)
  target_compile_options(quorvel_flags INTERFACE -Werror)
endif()
if(QUORVEL_SANITIZE)
  target_compile_options(quorvel_flags INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
    # GCC's flow analysis of instrumented code reports uninitialised members inside the standard
    # library (std::regex, std::function) that the plain build, which keeps the warning, does not.
    # Clang (the fuzz build) knows no such warning and refuses the option.
    $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
  target_link_options(quorvel_flags INTERFACE -fsanitize=address,undefined)
endif()
if(QUORVEL_FUZZ)
  # Libraries are instrumented for coverage; only the fuzz targets link libFuzzer's main.
  target_compile_options(quorvel_flags INTERFACE -fsanitize=fuzzer-no-link)
endif()

# quorvel_library(<target> SOURCES <files...> [DEPS <targets...>] [PRIVATE_DEPS <targets...>])
# A static library whose headers are included as "folder/file.h" from the project root.
function(quorvel_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC quorvel_flags ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# quorvel_test(<target> SOURCES <files...> DEPS <targets...> [LABELS <labels...>]
#              [RESOURCE_LOCK <names...>] [PROGRAMS <targets...>])
# A GoogleTest binary beside its library; every test case is registered with CTest.
# Tests that bind the system's fixed ports name them in RESOURCE_LOCK. Tests that run programs
# of the build name them in PROGRAMS: each is built first and its path is the macro
# <NAME>_PATH (for qvreg, QVREG_PATH).
function(quorvel_test target)
  if(NOT QUORVEL_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS;RESOURCE_LOCK;PROGRAMS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE quorvel_flags ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  foreach(program ${ARG_PROGRAMS})
    string(TOUPPER ${program} name)
    target_compile_definitions(${target} PRIVATE ${name}_PATH="$<TARGET_FILE:${program}>")
    add_dependencies(${target} ${program})
  endforeach()
  set(props TIMEOUT 300)
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  if(ARG_RESOURCE_LOCK)
    list(APPEND props RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# quorvel_widget_test(<target> SOURCES <files...> DEPS <targets...>)
# A QtTest program beside its widgets, run by CTest without a display (offscreen platform).
function(quorvel_widget_test target)
  if(NOT QUORVEL_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE quorvel_flags ${ARG_DEPS} Qt6::Test)
  set_target_properties(${target} PROPERTIES AUTOMOC ON)
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# quorvel_add_subdirectories(<names...>)
# Adds each named sub-folder that has a CMakeLists.txt, in the order given (dependency order).
function(quorvel_add_subdirectories)
  foreach(name ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/CMakeLists.txt)
      add_subdirectory(${name})
    endif()
  endforeach()
endfunction()

# quorvel_add_all_subdirectories(): every sub-folder with a CMakeLists.txt, in name order.
function(quorvel_add_all_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(name ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${name} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/CMakeLists.txt)
      add_subdirectory(${name})
    endif()
  endforeach()
endfunction()

# quorvel_fuzzer(<target> SOURCES <files...> DEPS <targets...>)
# A libFuzzer target (clang, QUORVEL_FUZZ=ON); LLVMFuzzerTestOneInput is its entry point.
function(quorvel_fuzzer target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE quorvel_flags ${ARG_DEPS})
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endfunction()

# quorvel_benchmark(<target> SOURCES <files...> DEPS <targets...>)
# A Google Benchmark program; run it by hand, it is not a test.
function(quorvel_benchmark target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE quorvel_flags ${ARG_DEPS} benchmark::benchmark benchmark::benchmark_main)
endfunction()
