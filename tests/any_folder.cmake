# The sandbox and impex from a checkout below each folder a clone may live in.
if(TARGET impex AND TARGET yrkd)
  foreach(parent home tmp root)
    add_test(NAME sandbox_checkout_under_${parent}
             COMMAND sh -c "[ $(id -u) = 0 ] || exit 77; exec \"$0\" \"$@\""
                     ${CMAKE_CURRENT_SOURCE_DIR}/any_folder.sh /${parent} ${CMAKE_SOURCE_DIR}
                     ${CMAKE_BINARY_DIR})
    set_tests_properties(sandbox_checkout_under_${parent} PROPERTIES LABELS e2e SKIP_RETURN_CODE 77
                         TIMEOUT 120)
  endforeach()
endif()
