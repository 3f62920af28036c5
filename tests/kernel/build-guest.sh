#!/bin/sh
# Builds the static programs that run inside the test guest:
#   ktest-e2e      the data plane's end-to-end checks, the same sequence the
#                  user-space build runs, on the real device
#   ktest-tunnel   daemon and access server on loopback (libgcrypt peer)
#   ktest-compat32 the 32-bit daemon's commands (through the compat path on
#                  a 64-bit kernel)
#   ktest-ppp      the kernel's PPP over a line, both ways
#   ktest-unload   fills the rings right before the module is unloaded
#
# usage: tests/kernel/build-guest.sh OUT_DIR [amd64|686 [SYSROOT]]
#   programs in OUT_DIR/bin; for 686 everything is 32-bit, with libgcrypt
#   and libgpg-error taken from the i386 packages unpacked under SYSROOT.
set -eu

top=$(cd "$(dirname "$0")/../.." && pwd)
src=$top/tests/kernel/guest
dst=$1
arch=${2:-amd64}
sysroot=${3:-}
rm -rf "$dst"
mkdir -p "$dst/bin"

flags="-O2 -Wall -Wextra -Werror -static -I$top"
if [ "$arch" = 686 ]; then
  flags="-m32 $flags -isystem $sysroot/usr/include/i386-linux-gnu -isystem $sysroot/usr/include \
-L$sysroot/usr/lib/i386-linux-gnu"
fi
cxx="g++ -std=c++20 $flags"
cc="gcc -std=gnu11 $flags"
peer="$top/kmod/peer/peer.cpp $top/kmod/peer/gcrypt_gost.cpp"
# libgpg-error names getpwnam, which a static program never calls here.
gcrypt="-lgcrypt -lgpg-error -Wl,--no-warnings"

$cxx -o "$dst/bin/ktest-e2e" "$top/kmod/e2e/device_backend.cpp" "$top/kmod/e2e/checks.cpp" $peer \
  $gcrypt -pthread
$cxx -o "$dst/bin/ktest-tunnel" "$src/tunnel.cpp" $peer $gcrypt -pthread
$cxx -o "$dst/bin/ktest-ppp" "$src/ppp.cpp" -pthread
$cxx -o "$dst/bin/ktest-unload" "$src/unload.cpp" $peer $gcrypt
$cc -m32 -o "$dst/bin/ktest-compat32" "$src/compat32.c"
