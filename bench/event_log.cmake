# Listing a full 10 MiB event log with and without filters, against grep.
if(TARGET yrk_config)
  add_executable(event_log_bench ${CMAKE_CURRENT_SOURCE_DIR}/event_log_bench.cpp)
  target_link_libraries(event_log_bench PRIVATE yrk_config)
  target_compile_options(event_log_bench PRIVATE -O2)
endif()
