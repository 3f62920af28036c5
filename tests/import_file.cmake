# End-to-end runs of impex on files that are no import file or that a person
# wrote by hand: each case in its own sandbox with the stand-in daemon (root
# is needed for the private mount namespace; skipped otherwise).
if(TARGET impex AND TARGET yrkd)
  foreach(case fifo directory device many_attributes pretty_name)
    add_test(NAME impex_file_e2e_${case}
             COMMAND sh -c "[ $(id -u) = 0 ] || exit 77; exec \"$0\" \"$@\""
                     ${CMAKE_CURRENT_SOURCE_DIR}/sandbox -k ${CMAKE_BINARY_DIR} -d $<TARGET_FILE:yrkd> --
                     ${CMAKE_CURRENT_SOURCE_DIR}/import_file_e2e.sh ${case} $<TARGET_FILE:impex>
                     ${CMAKE_CURRENT_SOURCE_DIR}/import_file_e2e)
    set_tests_properties(impex_file_e2e_${case} PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 120)
  endforeach()
endif()
