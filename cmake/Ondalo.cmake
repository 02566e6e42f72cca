# Shared build rules of the project.

# Warnings are errors in our own builds (scripts/build.sh, the test command,
# CI), which turn this on; a packager's or user's plain build only warns, so
# a newer compiler's new warning never stops it.
option(ONDALO_WERROR "Treat compiler warnings as errors" OFF)
set(ONDALO_WARNINGS -Wall -Wextra)
if(ONDALO_WERROR)
  list(APPEND ONDALO_WARNINGS -Werror)
endif()
# GCC 12 at -O3 (Release) reports overlapping or overflowing copies inside
# libstdc++'s own inlined string concatenation and vector insertion
# (`"text" + std::to_string(n)`, `v.insert(v.end(), {...})`), where there is
# none. Those two checks are left out for GCC 12 in Release only; at -O2
# and with other compilers they stay on.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND ONDALO_WARNINGS $<$<CONFIG:Release>:-Wno-restrict> $<$<CONFIG:Release>:-Wno-stringop-overflow>)
endif()

if(ONDALO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz build instruments every library for coverage and runs it under
# both sanitizers; only the fuzz targets themselves link the fuzzer driver.
if(ONDALO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ONDALO_FUZZ needs clang (libFuzzer): configure with -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Adds every direct sub-folder of AREA (in name order) that has a CMakeLists.txt.
function(ondalo_add_subfolders area)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${PROJECT_SOURCE_DIR}/${area} ${PROJECT_SOURCE_DIR}/${area}/*)
  list(SORT children)
  foreach(child ${children})
    if(EXISTS ${PROJECT_SOURCE_DIR}/${area}/${child}/CMakeLists.txt)
      add_subdirectory(${PROJECT_SOURCE_DIR}/${area}/${child} ${PROJECT_BINARY_DIR}/${area}/${child})
    endif()
  endforeach()
endfunction()

# Project warnings and the repository root as include root for a target.
function(ondalo_target target)
  target_compile_options(${target} PRIVATE ${ONDALO_WARNINGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# A GoogleTest executable registered with CTest.
#   ondalo_add_test(NAME name SOURCES a.cpp b.cpp LIBS lib1 lib2)
# Tests run from their own temporary folder; ONDALO_BUILD_DIR and
# ONDALO_SOURCE_DIR tell them where the build and the fixtures are.
function(ondalo_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  ondalo_target(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${T_NAME} PRIVATE
    ONDALO_BUILD_DIR="${PROJECT_BINARY_DIR}"
    ONDALO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
include(GoogleTest)

# A component module: a shared library named NAME.so (no "lib" prefix)
# exporting only the four server entry points, with the common frame
# compiled in.
function(ondalo_add_component NAME)
  cmake_parse_arguments(C "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${NAME} MODULE ${C_SOURCES} ${PROJECT_SOURCE_DIR}/components/common/module_exports.cpp)
  set_target_properties(${NAME} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  ondalo_target(${NAME})
  target_link_libraries(${NAME} PRIVATE kivcommon kivplatform ${C_LIBS})
  target_link_options(${NAME} PRIVATE -Wl,--no-undefined)
  set_property(GLOBAL APPEND PROPERTY ONDALO_COMPONENTS ${NAME})
endfunction()
