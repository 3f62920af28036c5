#!/bin/sh
# Runs end-to-end cases from a checkout and build tree that lie below PARENT
# (/home, /tmp, or root's 0700 home), where the sandbox lays its own tmpfs or
# where other users cannot go. A private mount namespace puts an empty PARENT
# in place and binds both trees into it, so the host's folders stay as they are.
# usage: any_folder.sh PARENT SOURCE-DIR BUILD-DIR
set -eu
if [ "${YRK_ANY_FOLDER_INNER:-}" != 1 ]; then
  YRK_ANY_FOLDER_INNER=1 exec unshare -m -- "$0" "$@"
fi
parent=$1 src=$2 build=$3

mount --make-rprivate /
# Held open before PARENT is replaced: either tree may lie below it.
exec 3<"$src" 4<"$build"
case $parent in
  /root) mode=0700 ;;
  /tmp) mode=1777 ;;
  *) mode=0755 ;;
esac
mount -t tmpfs -o mode=$mode yrk-any-folder "$parent"
base=$parent/yrk-checkout
mkdir -p "$base/src" "$base/build"
mount --no-canonicalize --bind /proc/self/fd/3 "$base/src"
mount --no-canonicalize --bind /proc/self/fd/4 "$base/build"
exec 3<&- 4<&-

status=0
for case in servers own_account; do
  "$base/src/tests/sandbox" -k "$base/build" -d "$base/build/daemon/yrkd" -- \
    "$base/src/tests/impex_e2e.sh" "$case" "$base/build/impex/impex" "$base/src/tests/impex_e2e" ||
    { echo "FAIL: case $case from a checkout below $parent" >&2; status=1; }
done
exit $status
