# Unit tests that need the sandbox: a test user database, and a calling
# user whose ".yrk" tree may be created.
if(TARGET config_test)
  add_test(NAME personals_sandboxed
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/sandbox -k ${CMAKE_BINARY_DIR} $<TARGET_FILE:config_test>
                   --gtest_filter=PersonalsSandbox.*)
endif()
