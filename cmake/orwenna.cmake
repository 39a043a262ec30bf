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
  orwenna_precompile(orwenna_${name})
  foreach(dep IN LISTS ARG_DEPS)
    target_link_libraries(orwenna_${name} PUBLIC orwenna_${dep})
  endforeach()
  if(ARG_EXTERNAL)
    target_link_libraries(orwenna_${name} PUBLIC ${ARG_EXTERNAL})
  endif()
endfunction()

# orwenna_precompile(TARGET [EXTRA header...])
# The common heavy headers, precompiled once per target.
function(orwenna_precompile target)
  if(ORWENNA_PCH)
    target_precompile_headers(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/pch.h ${ARGN})
  endif()
endfunction()

# orwenna_test(NAME SOURCES... LIBS lib...)
# One GoogleTest program per test folder, registered with CTest as one test.
function(orwenna_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  orwenna_precompile(${name} <gtest/gtest.h>)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "ORWENNA_TEST=1")
endfunction()
