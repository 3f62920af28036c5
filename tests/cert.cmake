# End-to-end certificate and account imports through impex, each case in its
# own sandbox with a GOST test PKI made inside it (root is needed for the
# private mount namespace; skipped otherwise, or without the GOST engine).
if(TARGET impex AND TARGET yrkd)
  set(cert_cases add_each_type add_bundle rsa_refused bad_requests delete_filters delete_nothing
      accounts account_again rsa_account)
  set(data ${CMAKE_CURRENT_SOURCE_DIR}/cert_e2e)
  foreach(case ${cert_cases})
    add_test(NAME cert_e2e_${case}
             COMMAND sh -c "[ $(id -u) = 0 ] || exit 77; exec \"$0\" \"$@\""
                     ${CMAKE_CURRENT_SOURCE_DIR}/sandbox -k ${CMAKE_BINARY_DIR} -d $<TARGET_FILE:yrkd> --
                     ${CMAKE_CURRENT_SOURCE_DIR}/cert_e2e.sh ${case} $<TARGET_FILE:impex> ${data}
                     ${CMAKE_CURRENT_SOURCE_DIR}/pki/make_test_pki.sh)
    set_tests_properties(cert_e2e_${case} PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 180)
  endforeach()
endif()
