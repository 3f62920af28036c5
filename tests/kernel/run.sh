#!/bin/sh
# The kernel test: builds parvex.ko against the installed Debian kernel's
# headers, packs it with busybox, the kernel's n_hdlc module and the static
# in-guest test programs into an initramfs, boots that kernel under QEMU (TCG
# only: KVM hangs on the CI machines) and reads the verdict the guest prints.
# Exit status 0 only when every in-guest check passed and the kernel log is
# clean. Needs root (packages, /boot/vmlinuz-* is readable by root only).
#
# usage: tests/kernel/run.sh [-k]     -k keeps the guest's console log on success
#   YRK_BUILD_ROOT   where build trees go (default: <checkout>/build)
#   YRK_KTEST_TIMEOUT  seconds the guest may run (default 300)
set -eu

top=$(cd "$(dirname "$0")/../.." && pwd)
here=$top/tests/kernel
out=${YRK_BUILD_ROOT:-$top/build}/kernel
timeout_s=${YRK_KTEST_TIMEOUT:-300}
keep_log=0
[ "${1:-}" = -k ] && keep_log=1
start=$(date +%s)

say() { echo "kernel test: $*"; }
die() { echo "kernel test: FAILED: $*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || die "needs root"

# --- packages -------------------------------------------------------------
install_missing() {
  missing=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  say "installing$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing >/dev/null
}

install_missing qemu-system-x86 busybox-static linux-image-amd64 linux-headers-amd64 \
  make gcc g++ gcc-multilib g++-multilib cpio xz-utils zstd libgcrypt20-dev libgpg-error-dev

# The kernel the meta-package points at (not the running one, which may be
# anything on a CI host); its headers must be of the same version.
ver=$(dpkg-query -W -f='${Depends}' linux-image-amd64 | tr ',' '\n' |
  sed -n 's/^ *linux-image-\([0-9][^ ]*\).*/\1/p' | head -n 1)
[ -n "$ver" ] || die "cannot tell the version linux-image-amd64 installs"
install_missing "linux-headers-$ver"
kdir=/usr/src/linux-headers-$ver
vmlinuz=/boot/vmlinuz-$ver
[ -f "$kdir/Makefile" ] || die "no headers in $kdir"
[ -r "$vmlinuz" ] || die "no kernel image $vmlinuz"
say "kernel $ver"

mkdir -p "$out"

# --- the module -------------------------------------------------------------
# Built from a copy, so that the checkout stays free of build products and
# two checkouts never share one object tree.
"$here/build-module.sh" "$kdir" "$out/module" || die "module build"
ko=$out/module/kmod/parvex.ko

# --- in-guest programs --------------------------------------------------------
"$here/build-guest.sh" "$out/guest" || die "guest programs build"

# --- initramfs --------------------------------------------------------------
root=$out/initramfs
rm -rf "$root"
mkdir -p "$root/bin" "$root/lib" "$root/dev" "$root/proc" "$root/sys" "$root/tmp"
cp /bin/busybox "$root/bin/busybox"
cp "$here/init" "$root/init"
chmod 755 "$root/init"
cp "$ko" "$root/lib/parvex.ko"
cp "$out"/guest/bin/* "$root/bin/"

unpack_module() {  # unpack_module <name> <destination>
  src=$(find "/lib/modules/$ver/kernel" -name "$1.ko*" | head -n 1)
  [ -n "$src" ] || die "kernel module $1 not found under /lib/modules/$ver"
  case $src in
    *.ko.xz) xz -dc "$src" >"$2" ;;
    *.ko.zst) zstd -q -dc "$src" >"$2" ;;
    *.ko.gz) gzip -dc "$src" >"$2" ;;
    *) cp "$src" "$2" ;;
  esac
}
unpack_module n_hdlc "$root/lib/n_hdlc.ko"
unpack_module tun "$root/lib/tun.ko"
for m in slhc ppp_generic ppp_synctty; do
  unpack_module $m "$root/lib/$m.ko"
done

(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/initramfs.gz"

# --- boot -----------------------------------------------------------------
log=$out/console.log
say "booting (up to ${timeout_s}s)"
set +e
timeout -k 10 "$timeout_s" qemu-system-x86_64 \
  -accel tcg -m 512 -smp 2 -nographic -no-reboot -nic none \
  -kernel "$vmlinuz" -initrd "$out/initramfs.gz" \
  -append "console=ttyS0 panic=-1 loglevel=3 log_buf_len=4M ktest_timeout=$((timeout_s - 30))" \
  </dev/null >"$log" 2>&1
qrc=$?
set -e
tr -d '\r' <"$log" >"$log.txt"
mv "$log.txt" "$log"

# --- verdict ----------------------------------------------------------------
grep -E '^(not ok|ok) ' "$log" || true
summary=$(grep -E '^KERNEL-TEST SUMMARY:' "$log" | tail -n 1 || true)
failed=0
if [ -z "$summary" ]; then
  [ "$qrc" = 124 ] && echo "kernel test: the guest ran out of time" >&2
  failed=1
else
  echo "$summary"
  case $summary in
    *" failed=0"*) ;;
    *) failed=1 ;;
  esac
fi
# The guest checks its log itself; this second look also catches what came
# after its check (unload, power-off).
if sed -n '/^=== kernel log ===$/,$p' "$log" |
  grep -E 'BUG|WARNING|Oops|refcount|sleeping function called from invalid context|Call Trace'; then
  echo "kernel test: kernel log shows a fault" >&2
  failed=1
fi
elapsed=$(($(date +%s) - start))
if [ "$failed" != 0 ]; then
  echo "---- guest console (last 150 lines; whole log in $log) ----" >&2
  tail -n 150 "$log" >&2
  die "see above (${elapsed}s)"
fi
[ "$keep_log" = 1 ] || rm -f "$log"
say "passed in ${elapsed}s"
