#!/bin/sh
# Builds parvex.ko from a copy of kmod/ with the kernel's own build system and
# fails on any compiler (or, with C=1, sparse) warning.
#
# usage: tests/kernel/build-module.sh KERNEL_BUILD_DIR OUT_DIR [make arguments...]
#   the module ends up as OUT_DIR/kmod/parvex.ko; e.g. C=1 runs sparse too.
set -eu

top=$(cd "$(dirname "$0")/../.." && pwd)
kdir=$1 dst=$2
shift 2

rm -rf "$dst"
mkdir -p "$dst/kmod/kernel"
# Units and the kernel platform only: kmod/ also holds user-space sources and
# tests, which the kernel build never sees.
cp "$top"/kmod/*.c "$top"/kmod/*.h "$top/kmod/Kbuild" "$dst/kmod/"
cp "$top"/kmod/kernel/*.c "$top"/kmod/kernel/*.h "$dst/kmod/kernel/"

log=$dst/build.log
if ! make -C "$kdir" M="$dst/kmod" "$@" modules >"$log" 2>&1; then
  cat "$log" >&2
  echo "parvex.ko: build failed" >&2
  exit 1
fi
if grep -E 'warning:|error:|note:' "$log" >&2; then
  echo "parvex.ko: the build is not clean (see $log)" >&2
  exit 1
fi
[ -f "$dst/kmod/parvex.ko" ] || { echo "parvex.ko: not produced" >&2; exit 1; }
