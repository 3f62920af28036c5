# End-to-end runs of nsput, each case in its own sandbox (root is needed for
# the private mount namespace; skipped otherwise). The script replaces the
# sandbox's /etc/resolv.conf only once it has made sure /etc is private.
if(TARGET nsput)
  set(nsput_cases no_argument missing_source two_arguments installs empty_source directory_source
      fifo_source device_source large_source linked_target unprivileged setuid_unreadable
      setuid_installs)
  foreach(case ${nsput_cases})
    add_test(NAME nsput_e2e_${case}
             COMMAND sh -c "[ $(id -u) = 0 ] || exit 77; exec \"$0\" \"$@\""
                     ${CMAKE_CURRENT_SOURCE_DIR}/sandbox -k ${CMAKE_BINARY_DIR} --
                     ${CMAKE_CURRENT_SOURCE_DIR}/nsput_e2e.sh ${case} $<TARGET_FILE:nsput>)
    set_tests_properties(nsput_e2e_${case} PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 60)
  endforeach()
endif()
