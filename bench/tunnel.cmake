# End-to-end tunnel throughput on loopback against the crypter alone, in one run.
if(TARGET yrk_kmod AND TARGET yrk_kmod_peer)
  add_executable(tunnel_bench ${CMAKE_CURRENT_LIST_DIR}/tunnel_bench.cpp)
  # The loopback helpers of the tunnel tests report through GoogleTest.
  target_link_libraries(tunnel_bench PRIVATE yrk_kmod yrk_kmod_peer GTest::gtest Threads::Threads)
endif()
