# End-to-end runs of impex against the stand-in daemon, each case in its own
# sandbox (root is needed for the private mount namespace; skipped otherwise).
if(TARGET impex AND TARGET yrkd)
  set(impex_alone usage no_semaphore)
  set(impex_with_daemon missing_file store_stops unknown_user two_failures servers accounts
      own_account linked_home unwired xxe)
  foreach(case ${impex_alone} ${impex_with_daemon})
    set(daemon_args)
    if(case IN_LIST impex_with_daemon)
      set(daemon_args -d $<TARGET_FILE:yrkd>)
    endif()
    add_test(NAME impex_e2e_${case}
             COMMAND sh -c "[ $(id -u) = 0 ] || exit 77; exec \"$0\" \"$@\""
                     ${CMAKE_CURRENT_SOURCE_DIR}/sandbox -k ${CMAKE_BINARY_DIR} ${daemon_args} --
                     ${CMAKE_CURRENT_SOURCE_DIR}/impex_e2e.sh ${case} $<TARGET_FILE:impex>
                     ${CMAKE_CURRENT_SOURCE_DIR}/impex_e2e)
    set_tests_properties(impex_e2e_${case} PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 120)
  endforeach()
endif()
