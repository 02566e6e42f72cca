# Shared build rules of the project.

set(ONDALO_WARNINGS -Wall -Wextra -Werror)

if(ONDALO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
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
