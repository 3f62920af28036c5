# GOST R 34.10-2001 against libgcrypt, measured in one run.
if(TARGET yrk_gost AND TARGET PkgConfig::GCRYPT)
  add_executable(signature_bench ${CMAKE_CURRENT_LIST_DIR}/signature_bench.cpp)
  target_link_libraries(signature_bench PRIVATE yrk_gost PkgConfig::GCRYPT)
  target_compile_options(signature_bench PRIVATE -O2)
endif()
