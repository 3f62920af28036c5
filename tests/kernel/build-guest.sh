#!/bin/sh
# Builds the static programs that run inside the test guest:
#   ktest-tunnel   daemon and access server on loopback (libgcrypt peer)
#   ktest-compat32 the 32-bit daemon's commands through the compat path
#   ktest-ppp      the kernel's PPP over a line, both ways
#   ktest-unload   fills the rings right before the module is unloaded
#
# usage: tests/kernel/build-guest.sh OUT_DIR    (programs in OUT_DIR/bin)
set -eu

top=$(cd "$(dirname "$0")/../.." && pwd)
src=$top/tests/kernel/guest
dst=$1
rm -rf "$dst"
mkdir -p "$dst/bin"

cxx="g++ -std=c++20 -O2 -Wall -Wextra -Werror -static -I$top"
cc="gcc -std=gnu11 -O2 -Wall -Wextra -Werror -static -I$top"
peer="$top/kmod/peer/peer.cpp $top/kmod/peer/gcrypt_gost.cpp"

$cxx -o "$dst/bin/ktest-tunnel" "$src/tunnel.cpp" $peer -lgcrypt -lgpg-error -pthread \
  -Wl,--no-warnings  # libgpg-error names getpwnam, which a static program never calls here
$cxx -o "$dst/bin/ktest-ppp" "$src/ppp.cpp" -pthread
$cxx -o "$dst/bin/ktest-unload" "$src/unload.cpp" $peer -lgcrypt -lgpg-error -Wl,--no-warnings
$cc -m32 -o "$dst/bin/ktest-compat32" "$src/compat32.c"
