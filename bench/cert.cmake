# Chain verification and certificate stores on the test PKI.
if(TARGET yrk_cert AND benchmark_FOUND)
  add_executable(cert_bench ${CMAKE_CURRENT_LIST_DIR}/cert_bench.cpp)
  target_link_libraries(cert_bench PRIVATE yrk_cert benchmark::benchmark)
  target_compile_definitions(cert_bench PRIVATE YRK_TEST_PKI_SCRIPT="${CMAKE_SOURCE_DIR}/tests/pki/make_test_pki.sh")
  target_compile_options(cert_bench PRIVATE -O2)
endif()
