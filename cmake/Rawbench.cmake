# Build helpers shared by every folder: each folder's CMakeLists.txt names its
# target and dependencies, and its sources are found by glob, so that adding a
# file never means editing a list.

include(${CMAKE_CURRENT_LIST_DIR}/Layering.cmake)

set(RB_WARNINGS -Wall -Wextra)
if(RB_WERROR)
  list(APPEND RB_WARNINGS -Werror)
endif()

if(RB_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# rb_library(<target> [RECURSE] [DEPS <libs>...])
# Builds every .cpp of the calling folder into a static library whose include
# directory is that folder.
function(rb_library target)
  cmake_parse_arguments(ARG "RECURSE" "" "DEPS" ${ARGN})
  if(ARG_RECURSE)
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  endif()
  add_library(${target} STATIC ${srcs})
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${RB_WARNINGS})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS} Threads::Threads)
  set_property(GLOBAL APPEND PROPERTY RB_LIBRARIES ${target})
  set_property(GLOBAL PROPERTY RB_LIBRARY_DEPS_${target} ${ARG_DEPS})
  # The base libraries need one another (strings, foundation, storage, threading); an
  # optimised build can pull a member in on the last pass, so the cycle is repeated more.
  set_property(TARGET ${target} PROPERTY LINK_INTERFACE_MULTIPLICITY 4)
endfunction()

# rb_test(<target> [DEPS <libs>...])
# One GoogleTest executable from every .cpp of the calling folder. Test sources are
# compiled without optimisation: they spend their time in the libraries, and the test
# macros make optimising them the slowest part of a build.
function(rb_test target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${target} ${srcs})
  target_compile_options(${target} PRIVATE ${RB_WARNINGS} -O0)
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# rb_fuzz(<name> [DEPS <libs>...])
# <name>.cpp defines LLVMFuzzerTestOneInput. A replay executable runs every file
# of corpus/ through it (in every build, so CI replays under the sanitizers);
# with RB_FUZZ_LIBFUZZER a libFuzzer binary is built as well.
function(rb_fuzz name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  set(src ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  if(RB_FUZZ_LIBFUZZER)
    add_executable(fuzz_${name} ${src})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_${name} PRIVATE ${ARG_DEPS})
    return()
  endif()
  add_executable(replay_${name} ${src} ${CMAKE_SOURCE_DIR}/fuzz/ReplayMain.cpp)
  target_compile_options(replay_${name} PRIVATE ${RB_WARNINGS})
  target_link_libraries(replay_${name} PRIVATE ${ARG_DEPS})
  add_test(NAME fuzz_replay_${name}
           COMMAND replay_${name} ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
  set_tests_properties(fuzz_replay_${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()

# rb_bench(<target> [DEPS <libs>...])
function(rb_bench target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${target} ${srcs})
  target_compile_options(${target} PRIVATE ${RB_WARNINGS})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# Adds every subfolder of the calling folder that has a CMakeLists.txt.
function(rb_add_subfolders)
  file(GLOB_RECURSE lists CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  list(SORT lists)
  foreach(l IN LISTS lists)
    get_filename_component(d ${l} DIRECTORY)
    add_subdirectory(${d})
  endforeach()
endfunction()
