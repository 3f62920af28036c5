# GOST library against libgcrypt, measured in one run.
if(TARGET yrk_crypto)
  add_executable(crypto_bench ${CMAKE_CURRENT_LIST_DIR}/crypto_bench.cpp)
  target_link_libraries(crypto_bench PRIVATE yrk_crypto PkgConfig::GCRYPT)
  target_compile_options(crypto_bench PRIVATE -O2)
endif()
