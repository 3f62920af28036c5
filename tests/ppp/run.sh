#!/bin/sh
# PPP over the module: builds parvex.ko and the guest programs as the kernel
# test does, packs Debian's pppd (with the libraries ldd lists), the
# daemon-side pppd plugin, busybox and the kernel's PPP modules into an
# initramfs, boots Debian's kernel under QEMU (TCG) and reads the verdict
# lines the guest prints. Two lines of the module form the two ends of one
# tunnel over loopback; pppd runs on each, the far one in its own network
# namespace. Exit status 0 only when every check passed; 77 when not root.
#
# usage: tests/ppp/run.sh [-k] [-d]
#   -k   keep the console log on success too
#   -d   demonstration: bring the link up, ping, show statistics and one
#        captured datagram beside its frame, power off (no long checks)
#   YRK_BUILD_ROOT     where build trees go (default: <checkout>/build)
#   YRK_PPP_TIMEOUT    seconds the guest may run (default 240)
set -eu

top=$(cd "$(dirname "$0")/../.." && pwd)
here=$top/tests/ppp
timeout_s=${YRK_PPP_TIMEOUT:-240}
keep_log=0 mode=test
while [ $# -gt 0 ]; do
  case $1 in
    -k) keep_log=1 ;;
    -d) mode=demo ;;
    *) echo "usage: $0 [-k] [-d]" >&2; exit 2 ;;
  esac
  shift
done
out=${YRK_BUILD_ROOT:-$top/build}/ppp-amd64
start=$(date +%s)

say() { echo "ppp test: $*"; }
die() { echo "ppp test: FAILED: $*" >&2; exit 1; }

if [ "$(id -u)" != 0 ]; then
  say "skipped: needs root"
  exit 77
fi

. "$top/tests/kernel/lib.sh"
install_missing qemu-system-x86 busybox-static make gcc g++ cpio xz-utils zstd libgcrypt20-dev \
  libgpg-error-dev ppp ppp-dev
ver=$(installed_amd64_kernel) || exit 1
kdir=/usr/src/linux-headers-$ver
vmlinuz=/boot/vmlinuz-$ver
moddir=/lib/modules/$ver/kernel
mkdir -p "$out"

# --- the module and the programs ----------------------------------------------
"$top/tests/kernel/build-module.sh" "$kdir" "$out/module" || die "module build"
mkdir -p "$out/bin"
flags="-O2 -Wall -Wextra -Werror -static -I$top"
peer="$top/kmod/peer/peer.cpp $top/kmod/peer/gcrypt_gost.cpp"
gcrypt="-lgcrypt -lgpg-error -Wl,--no-warnings"
# shellcheck disable=SC2086
g++ -std=c++20 $flags -o "$out/bin/ppp-line" "$here/line.cpp" $peer $gcrypt || die "ppp-line build"
# shellcheck disable=SC2086
g++ -std=c++20 $flags -o "$out/bin/ppp-capture" "$here/capture.cpp" $peer $gcrypt || die "ppp-capture build"
gcc -std=gnu11 -O2 -Wall -Wextra -Werror -fPIC -shared -I/usr/include/pppd \
  -o "$out/ipcp_restore.so" "$here/plugin/ipcp_restore.c" || die "plugin build"

# --- initramfs --------------------------------------------------------------
root=$out/initramfs
rm -rf "$root"
mkdir -p "$root/bin" "$root/lib" "$root/dev" "$root/proc" "$root/sys" "$root/tmp" \
  "$root/var/run" "$root/var/lock" "$root/etc/ppp" "$root/usr/sbin"
cp /bin/busybox "$root/bin/busybox"
cp "$here/init" "$root/init"
chmod 755 "$root/init"
echo "$mode" >"$root/etc/ppp-test-mode"
cp "$out/module/kmod/parvex.ko" "$root/lib/parvex.ko"
cp "$out"/bin/* "$root/bin/"
cp "$out/ipcp_restore.so" "$root/lib/ipcp_restore.so"
cp /usr/sbin/pppd "$root/usr/sbin/pppd"
# pppd is dynamic: its libraries where ldd found them, and the loader.
for lib in $(ldd /usr/sbin/pppd | sed -n 's/.*=> \(\/[^ ]*\).*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) (.*/\1/p'); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
[ -d "$root/lib64" ] || die "the loader was not copied"
for m in slhc ppp_generic ppp_synctty; do
  unpack_module "$m" "$root/lib/$m.ko"
done
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/initramfs.gz"

# --- boot -----------------------------------------------------------------
log=$out/console.log
say "booting kernel $ver (up to ${timeout_s}s)"
set +e
timeout -k 10 "$timeout_s" qemu-system-x86_64 \
  -accel tcg -m 512 -smp 2 -nographic -no-reboot -nic none \
  -kernel "$vmlinuz" -initrd "$out/initramfs.gz" \
  -append "console=ttyS0 panic=-1 loglevel=3 log_buf_len=4M ppp_timeout=$((timeout_s - 20))" \
  </dev/null >"$log" 2>&1
qrc=$?
set -e
tr -d '\r' <"$log" >"$log.txt"
mv "$log.txt" "$log"
elapsed=$(($(date +%s) - start))

if [ "$mode" = demo ]; then
  sed -n '/^=== demo ===$/,/^=== end of demo ===$/p' "$log" | sed '1d;$d'
  grep -q '^=== end of demo ===$' "$log" || { tail -n 60 "$log" >&2; die "the demonstration did not finish (${elapsed}s)"; }
  say "done in ${elapsed}s"
  exit 0
fi

grep -E '^(ok|not ok) ' "$log" || true
summary=$(grep -E '^PPP-TEST SUMMARY:' "$log" | tail -n 1 || true)
failed=0
if [ -z "$summary" ]; then
  [ "$qrc" = 124 ] && echo "ppp test: the guest ran out of time" >&2
  failed=1
else
  say "$summary"
  case $summary in *" failed=0") ;; *) failed=1 ;; esac
fi
if [ "$failed" != 0 ]; then
  echo "---- guest console (last 120 lines; whole log in $log) ----" >&2
  tail -n 120 "$log" >&2
  die "see above (${elapsed}s)"
fi
[ "$keep_log" = 1 ] || rm -f "$log"
say "passed in ${elapsed}s"
