# Frame protection against libgcrypt's raw GOST 28147-89 CFB, in one run.
if(TARGET yrk_kmod AND TARGET yrk_kmod_peer)
  add_executable(crypter_bench ${CMAKE_CURRENT_SOURCE_DIR}/crypter_bench.cpp)
  target_link_libraries(crypter_bench PRIVATE yrk_kmod yrk_kmod_peer)
endif()
