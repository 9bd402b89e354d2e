# The passes that work on the tile database: colour post-processing, shading, elevation
# post-processing, raster picture and levels of detail.
target_sources(kyte_terrain PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/trn_color_post_cut.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trn_color_post.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trn_shading.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trn_elevation_post.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trn_rasterfile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trn_levels.cpp
)

set(_passes_tests ${CMAKE_CURRENT_LIST_DIR}/tests)
kyte_add_gtest(trn_color_post_test SOURCES ${_passes_tests}/trn_color_post_test.cpp LIBS kyte_terrain)
kyte_add_gtest(trn_shading_test SOURCES ${_passes_tests}/trn_shading_test.cpp LIBS kyte_terrain)
kyte_add_gtest(trn_elevation_post_test SOURCES ${_passes_tests}/trn_elevation_post_test.cpp LIBS kyte_terrain)
kyte_add_gtest(trn_rasterfile_test SOURCES ${_passes_tests}/trn_rasterfile_test.cpp LIBS kyte_terrain)
kyte_add_gtest(trn_levels_test SOURCES ${_passes_tests}/trn_levels_test.cpp LIBS kyte_terrain GTest::gmock)
kyte_add_gtest(trn_passes_test SOURCES ${_passes_tests}/trn_passes_test.cpp LIBS kyte_terrain GTest::gmock)

kyte_add_benchmark(trn_passes_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench/trn_passes_bench.cpp LIBS kyte_terrain)
