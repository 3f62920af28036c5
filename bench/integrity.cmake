# Integrity control over listed files against the hash over one buffer.
if(TARGET yrk_integrity)
  add_executable(integrity_bench ${CMAKE_CURRENT_LIST_DIR}/integrity_bench.cpp)
  target_link_libraries(integrity_bench PRIVATE yrk_integrity)
  target_compile_options(integrity_bench PRIVATE -O2)
endif()
