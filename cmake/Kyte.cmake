# Helpers shared by the module folders.

set(KYTE_NETNS ${PROJECT_SOURCE_DIR}/platform/netns/run-in-netns)

# kyte_add_gtest(<name> SOURCES ... LIBS ... [NET] [TIMEOUT s] [WORKDIR dir])
# Builds a GoogleTest executable on the shared test support (testsupport/) and registers it with
# CTest. NET tests run inside a private network namespace with loopback only, and refuse to start
# where any other interface is up.
function(kyte_add_gtest name)
  cmake_parse_arguments(T "NET" "TIMEOUT;WORKDIR" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE kyte_testsupport)
  if(T_NET)
    target_link_libraries(${name} PRIVATE ${T_LIBS} kyte_net_gtest_main GTest::gtest)
    add_test(NAME ${name} COMMAND ${KYTE_NETNS} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES LABELS net)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
  if(T_WORKDIR)
    set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY ${T_WORKDIR})
  endif()
endfunction()

# kyte_add_benchmark(<name> SOURCES ... LIBS ...): built on the shared test support, never part
# of the test run.
function(kyte_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT benchmark_FOUND)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} kyte_testsupport benchmark::benchmark)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
