# The five terrain programs: their runs (programs.h) in one library, each program a main that
# calls its run, with its own copy of the terrain library.
add_library(kyte_terrainprograms STATIC demimport.cpp demreader.cpp gridforge.cpp
  gridforge_input.cpp landimport.cpp landuse.cpp pseudocolor.cpp tileprint.cpp tintshade.cpp)
target_include_directories(kyte_terrainprograms PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kyte_terrainprograms PUBLIC kyte_terrain)

foreach(program demimport gridforge landimport tintshade tileprint)
  string(SUBSTRING ${program} 0 1 first)
  string(TOUPPER ${first} first)
  string(SUBSTRING ${program} 1 -1 rest)
  add_executable(${program} program_main.cpp)
  target_compile_definitions(${program} PRIVATE TERRAIN_PROGRAM=Run${first}${rest})
  target_link_libraries(${program} PRIVATE kyte_terrainprograms kyte_terrain)
endforeach()

kyte_add_gtest(gridforge_test SOURCES tests/gridforge_test.cpp LIBS kyte_terrainprograms kyte_terrain
  TIMEOUT 300)
target_include_directories(gridforge_test PRIVATE ${PROJECT_SOURCE_DIR}/terrain/tests)
target_compile_definitions(gridforge_test PRIVATE GRIDFORGE_PATH="$<TARGET_FILE:gridforge>"
  BUNDLED_GRID="${CMAKE_CURRENT_SOURCE_DIR}/data/pnw_48n49n_124w123w_46x30.i16")
add_dependencies(gridforge_test gridforge)

kyte_add_gtest(landimport_test SOURCES tests/landimport_test.cpp
  LIBS kyte_terrainprograms kyte_terrain TIMEOUT 300)
target_include_directories(landimport_test PRIVATE ${PROJECT_SOURCE_DIR}/terrain/tests)
target_compile_definitions(landimport_test PRIVATE LANDIMPORT_PATH="$<TARGET_FILE:landimport>")
add_dependencies(landimport_test landimport)

kyte_add_gtest(tintshade_tileprint_test SOURCES tests/tintshade_tileprint_test.cpp
  LIBS kyte_terrain TIMEOUT 300)
target_include_directories(tintshade_tileprint_test PRIVATE ${PROJECT_SOURCE_DIR}/terrain/tests)
target_compile_definitions(tintshade_tileprint_test PRIVATE
  TINTSHADE_PATH="$<TARGET_FILE:tintshade>" TILEPRINT_PATH="$<TARGET_FILE:tileprint>")
add_dependencies(tintshade_tileprint_test tintshade tileprint)

kyte_add_benchmark(gridforge_bench SOURCES bench/gridforge_bench.cpp LIBS kyte_terrain)
if(TARGET gridforge_bench)
  target_include_directories(gridforge_bench PRIVATE ${PROJECT_SOURCE_DIR}/terrain/bench)
  target_compile_definitions(gridforge_bench PRIVATE GRIDFORGE_PATH="$<TARGET_FILE:gridforge>"
    BUNDLED_GRID="${CMAKE_CURRENT_SOURCE_DIR}/data/pnw_48n49n_124w123w_46x30.i16")
  add_dependencies(gridforge_bench gridforge)
endif()
