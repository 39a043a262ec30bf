# orwenna_library(NAME DEPS dep... EXTERNAL target...)
# One folder under src/ is one static library named orwenna_<NAME>. DEPS lists
# exactly the libraries of ours it includes; the graph is one-way and written
# down in src/CMakeLists.txt.
function(orwenna_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXTERNAL" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    message(FATAL_ERROR "src/${name} has no sources: declare a library once it has code")
  endif()
  add_library(orwenna_${name} STATIC ${sources})
  target_include_directories(orwenna_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  orwenna_precompile(orwenna_${name} src)
  foreach(dep IN LISTS ARG_DEPS)
    target_link_libraries(orwenna_${name} PUBLIC orwenna_${dep})
  endforeach()
  if(ARG_EXTERNAL)
    target_link_libraries(orwenna_${name} PUBLIC ${ARG_EXTERNAL})
  endif()
endfunction()

# orwenna_precompile(TARGET GROUP [EXTRA header...])
# The common heavy headers, precompiled once per GROUP of targets that share
# their compile flags: the first target of a group builds the header, the rest
# reuse it (g++ rejects a header built with other flags, and -Winvalid-pch says so).
function(orwenna_precompile target group)
  if(NOT ORWENNA_PCH)
    return()
  endif()
  get_property(owner GLOBAL PROPERTY ORWENNA_PCH_OWNER_${group})
  if(owner)
    target_precompile_headers(${target} REUSE_FROM ${owner})
  else()
    target_precompile_headers(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/pch.h ${ARGN})
    set_property(GLOBAL PROPERTY ORWENNA_PCH_OWNER_${group} ${target})
  endif()
  target_compile_options(${target} PRIVATE -Winvalid-pch)
endfunction()

# orwenna_test(NAME SOURCES... LIBS lib...)
# One GoogleTest program per test folder, registered with CTest as one test.
function(orwenna_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  orwenna_precompile(${name} tests <gtest/gtest.h> <gmock/gmock.h>)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "ORWENNA_TEST=1")
endfunction()
