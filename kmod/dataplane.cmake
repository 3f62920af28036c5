# The rings, transport, filter, control device and whole-tunnel tests load the
# real module, so they leave kmod_test (whose stand-ins would be replaced by
# the real units) for an executable of their own.
set(kmod_live_regex "/(stbuff|sync|udpt|filter|ttysim|module|tunnel)_test\\.cpp$")
set(kmod_live_tests ${kmod_tests})
list(FILTER kmod_live_tests INCLUDE REGEX "${kmod_live_regex}")
list(FILTER kmod_tests EXCLUDE REGEX "${kmod_live_regex}")
if(kmod_live_tests)
  set(kmod_live_libs yrk_kmod yrk_kmod_peer PkgConfig::GCRYPT)
  yrk_test(kmod_dataplane_test SOURCES ${kmod_live_tests} LIBS ${kmod_live_libs}
           LABELS dataplane)
endif()
