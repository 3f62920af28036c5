# Import of 100 and 1,000 trusted servers through the command layer.
if(TARGET benchmark::benchmark AND TARGET yrk_impex)
  add_executable(import_bench ${CMAKE_CURRENT_SOURCE_DIR}/import_bench.cpp)
  target_link_libraries(import_bench PRIVATE yrk_impex benchmark::benchmark)
endif()
