# End-to-end runs of yrkctl against the stand-in daemon, each case in its own
# sandbox (root is needed for the private mount namespace; skipped otherwise,
# and the cases that connect without the GOST engine for the test PKI).
if(TARGET yrkctl AND TARGET impex AND TARGET yrkd)
  set(yrkctl_alone usage no_daemon)
  set(yrkctl_with_daemon connect connect_fails disconnect stats stats_refused events cert_verify
      integrity)
  set(data ${CMAKE_CURRENT_SOURCE_DIR}/yrkctl_e2e)
  foreach(case ${yrkctl_alone} ${yrkctl_with_daemon})
    set(daemon_args)
    if(case IN_LIST yrkctl_with_daemon)
      set(daemon_args -d $<TARGET_FILE:yrkd>)
    endif()
    if(EXISTS ${data}/${case}.script)
      list(APPEND daemon_args -s ${data}/${case}.script)
    endif()
    add_test(NAME yrkctl_e2e_${case}
             COMMAND sh -c "[ $(id -u) = 0 ] || exit 77; exec \"$0\" \"$@\""
                     ${CMAKE_CURRENT_SOURCE_DIR}/sandbox -k ${CMAKE_BINARY_DIR} ${daemon_args} --
                     ${CMAKE_CURRENT_SOURCE_DIR}/yrkctl_e2e.sh ${case} $<TARGET_FILE:yrkctl>
                     $<TARGET_FILE:impex> ${data} ${CMAKE_CURRENT_SOURCE_DIR}/pki/make_test_pki.sh)
    set_tests_properties(yrkctl_e2e_${case} PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 180)
  endforeach()
endif()
