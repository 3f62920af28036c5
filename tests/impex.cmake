# End-to-end runs of impex against the stand-in daemon, each case in its own
# sandbox (root is needed for the private mount namespace; skipped otherwise).
if(TARGET impex AND TARGET yrkd)
  set(impex_alone usage no_semaphore)
  set(impex_with_daemon missing_file store_stops unknown_user two_failures servers accounts
      own_account linked_home xxe damaged_system_config damaged_user_config
      deep_user_config first_use_race killed_run forged_answers system_account linked_configs)
  set(data ${CMAKE_CURRENT_SOURCE_DIR}/impex_e2e)
  foreach(case ${impex_alone} ${impex_with_daemon})
    set(daemon_args)
    if(case IN_LIST impex_with_daemon)
      set(daemon_args -d $<TARGET_FILE:yrkd>)
    endif()
    if(EXISTS ${data}/${case}.script)  # the daemon's answers for this case
      list(APPEND daemon_args -s ${data}/${case}.script)
    endif()
    add_test(NAME impex_e2e_${case}
             COMMAND sh -c "[ $(id -u) = 0 ] || exit 77; exec \"$0\" \"$@\""
                     ${CMAKE_CURRENT_SOURCE_DIR}/sandbox -k ${CMAKE_BINARY_DIR} ${daemon_args} --
                     ${CMAKE_CURRENT_SOURCE_DIR}/impex_e2e.sh ${case} $<TARGET_FILE:impex> ${data})
    set_tests_properties(impex_e2e_${case} PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 120)
  endforeach()
  # A memory limit leaves no room for the address sanitizer's shadow.
  set_tests_properties(impex_e2e_deep_user_config PROPERTIES LABELS "e2e;nosan")
endif()
