# Helpers shared by the module folders.

set(KYTE_NETNS ${PROJECT_SOURCE_DIR}/platform/netns/run-in-netns)

# Tests and benchmarks are made only with BUILD_TESTING; a folder that asks for one without it
# is a configure error rather than a test that quietly comes and goes.
function(kyte_require_testing what)
  if(NOT BUILD_TESTING)
    message(FATAL_ERROR "${what} is test material: make it inside if(BUILD_TESTING)")
  endif()
endfunction()

# kyte_add_gtest(<name> SOURCES ... LIBS ... [NET] [TIMEOUT s] [WORKDIR dir])
# Builds a GoogleTest executable on the shared test support (testsupport/) and registers it with
# CTest. NET tests run inside a private network namespace with loopback only, and refuse to start
# where any other interface is up.
function(kyte_add_gtest name)
  kyte_require_testing(${name})
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

# kyte_probe_library(<target>): a library that only tests load (a probe block, plug-in or MEX
# file) lands in build/tests beside the tests, so that build/lib holds the deliverables and the
# platform libraries they import, and nothing else.
function(kyte_probe_library target)
  kyte_require_testing(${target})
  set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endfunction()

# kyte_export_only(<target> <symbol>...): the shared library <target> exports these symbols and
# nothing else. Its code is compiled with hidden visibility, and a version script makes every
# other symbol local, the C++ library's template code that it instantiates included, so that
# two libraries in one process never bind to each other's copies. The symbols are kept in the
# target's property KYTE_EXPORTS for the exports test.
function(kyte_export_only target)
  list(JOIN ARGN "; " globals)
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports)
  file(CONFIGURE OUTPUT ${script} CONTENT "{\n  global: ${globals};\n  local: *;\n};\n")
  target_link_options(${target} PRIVATE -Wl,--version-script=${script})
  set_target_properties(${target} PROPERTIES C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden
                        VISIBILITY_INLINES_HIDDEN ON LINK_DEPENDS ${script} KYTE_EXPORTS "${ARGN}")
endfunction()

# kyte_add_platform_library(<target> SOURCES ...): one of the platform layers that stand for
# the operating system's own libraries, as a shared library build/lib/lib<target>.so that
# exports its calls. Like the system's libraries it exists once per process: every deliverable
# that loads it, the host and a test share its state, so a test's hook reaches the copy that a
# loaded deliverable calls.
function(kyte_add_platform_library target)
  cmake_parse_arguments(P "" "" "SOURCES" ${ARGN})
  add_library(${target} SHARED ${P_SOURCES})
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET default)
  if(NOT KYTE_SANITIZED)
    target_link_options(${target} PRIVATE -Wl,-z,defs)
  endif()
endfunction()

# kyte_add_benchmark(<name> SOURCES ... LIBS ... [DEFINES ...] [INCLUDES ...] [DEPENDS ...]):
# built on the shared test support into build/bench/ when Google Benchmark is there, never part
# of the test run. DEPENDS are the targets it runs or loads.
function(kyte_add_benchmark name)
  kyte_require_testing(${name})
  cmake_parse_arguments(B "" "" "SOURCES;LIBS;DEFINES;INCLUDES;DEPENDS" ${ARGN})
  if(NOT benchmark_FOUND)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} kyte_testsupport benchmark::benchmark)
  target_compile_definitions(${name} PRIVATE ${B_DEFINES})
  target_include_directories(${name} PRIVATE ${B_INCLUDES})
  if(B_DEPENDS)
    add_dependencies(${name} ${B_DEPENDS})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
