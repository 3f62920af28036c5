#!/bin/sh
# The kernel test: builds parvex.ko against a Debian 12 kernel's headers,
# packs it with busybox, the kernel's n_hdlc, tun and PPP modules and the
# static in-guest test programs into an initramfs, boots that kernel under
# QEMU (TCG only: KVM hangs on the CI machines; no network device but
# loopback) and reads the verdict the guest prints. Exit status 0 only when
# every in-guest check passed and the kernel log is clean; 77 when not root
# (packages, and /boot/vmlinuz-* is readable by root only).
#
# usage: tests/kernel/run.sh [-k] [amd64|686]
#   amd64 (default)  the installed linux-image-amd64 and its headers
#   686              Debian's 32-bit kernel: its packages are downloaded and
#                    unpacked under the build tree, never installed
#   -k               keep the guest's console log on success too
#   YRK_BUILD_ROOT     where build trees go (default: <checkout>/build)
#   YRK_KTEST_TIMEOUT  seconds the guest may run (default 300)
set -eu

top=$(cd "$(dirname "$0")/../.." && pwd)
here=$top/tests/kernel
timeout_s=${YRK_KTEST_TIMEOUT:-300}
keep_log=0
if [ "${1:-}" = -k ]; then keep_log=1; shift; fi
arch=${1:-amd64}
out=${YRK_BUILD_ROOT:-$top/build}/kernel-$arch
start=$(date +%s)

say() { echo "kernel test ($arch): $*"; }
die() { echo "kernel test ($arch): FAILED: $*" >&2; exit 1; }

if [ "$(id -u)" != 0 ]; then
  say "skipped: needs root"
  exit 77
fi

# --- packages -------------------------------------------------------------
. "$here/lib.sh"

# The version a meta-package (linux-image-amd64, linux-image-686) points at.
meta_version() {
  apt-cache depends "$1" 2>/dev/null | sed -n 's/^ *Depends: linux-image-\([0-9][^ :]*\).*/\1/p' | head -n 1
}

install_missing qemu-system-x86 busybox-static make gcc g++ gcc-multilib g++-multilib cpio \
  xz-utils zstd sparse libgcrypt20-dev libgpg-error-dev
mkdir -p "$out"

case $arch in
amd64)
  ver=$(installed_amd64_kernel) || exit 1
  sysroot=
  busybox=/bin/busybox
  qemu=qemu-system-x86_64
  ;;
686)
  dpkg --print-foreign-architectures | grep -qx i386 || {
    say "enabling the i386 architecture for downloads"
    dpkg --add-architecture i386
    apt-get update -q >/dev/null
  }
  ver=$(meta_version linux-image-686:i386)
  [ -n "$ver" ] || {
    apt-get update -q >/dev/null
    ver=$(meta_version linux-image-686:i386)
  }
  [ -n "$ver" ] || die "cannot tell the version linux-image-686 installs"
  # The headers share the common part and the build tools with the host's
  # kernel packages of the same release.
  kbuild=linux-kbuild-$(echo "$ver" | cut -d. -f1,2)
  install_missing "linux-headers-${ver%-686}-common" "$kbuild"
  sysroot=$out/sysroot-$ver
  if [ ! -f "$sysroot/.complete" ]; then
    say "downloading and unpacking the 686 packages"
    rm -rf "$sysroot"
    mkdir -p "$sysroot/debs"
    (cd "$sysroot/debs" && apt-get download -q "linux-image-$ver:i386" "linux-headers-$ver:i386" \
      busybox-static:i386 libgcrypt20-dev:i386 libgpg-error-dev:i386 >/dev/null 2>&1) ||
      die "cannot download the 686 packages"
    for d in "$sysroot"/debs/*.deb; do dpkg-deb -x "$d" "$sysroot"; done
    rm -rf "$sysroot/debs"
    # The headers' scripts link to the build tools relative to their root.
    rm -rf "$sysroot/usr/lib/$kbuild"
    ln -s "/usr/lib/$kbuild" "$sysroot/usr/lib/$kbuild"
    touch "$sysroot/.complete"
  fi
  busybox=$sysroot/bin/busybox
  qemu=qemu-system-i386
  ;;
*)
  die "unknown architecture $arch (amd64 or 686)"
  ;;
esac
kdir=$sysroot/usr/src/linux-headers-$ver
vmlinuz=$sysroot/boot/vmlinuz-$ver
moddir=$sysroot/lib/modules/$ver/kernel
[ -f "$kdir/Makefile" ] || die "no headers in $kdir"
[ -r "$vmlinuz" ] || die "no kernel image $vmlinuz"
say "kernel $ver"

# --- the module -------------------------------------------------------------
# Built from a copy, so that the checkout stays free of build products and
# two checkouts never share one object tree; sparse checks every source too.
"$here/build-module.sh" "$kdir" "$out/module" C=1 || die "module build"
ko=$out/module/kmod/parvex.ko

# --- in-guest programs --------------------------------------------------------
"$here/build-guest.sh" "$out/guest" "$arch" "$sysroot" || die "guest programs build"

# --- initramfs --------------------------------------------------------------
root=$out/initramfs
rm -rf "$root"
mkdir -p "$root/bin" "$root/lib" "$root/dev" "$root/proc" "$root/sys" "$root/tmp"
cp "$busybox" "$root/bin/busybox"
cp "$here/init" "$root/init"
chmod 755 "$root/init"
cp "$ko" "$root/lib/parvex.ko"
cp "$out"/guest/bin/* "$root/bin/"

for m in n_hdlc tun slhc ppp_generic ppp_synctty; do
  unpack_module "$m" "$root/lib/$m.ko"
done

(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/initramfs.gz"

# --- boot -----------------------------------------------------------------
log=$out/console.log
say "booting (up to ${timeout_s}s)"
set +e
timeout -k 10 "$timeout_s" "$qemu" \
  -accel tcg -m 512 -smp 2 -nographic -no-reboot -nic none \
  -kernel "$vmlinuz" -initrd "$out/initramfs.gz" \
  -append "console=ttyS0 panic=-1 loglevel=3 log_buf_len=4M ktest_timeout=$((timeout_s - 30))" \
  </dev/null >"$log" 2>&1
qrc=$?
set -e
tr -d '\r' <"$log" >"$log.txt"
mv "$log.txt" "$log"

# --- verdict ----------------------------------------------------------------
grep -E '^not ok ' "$log" || true
grep -E '^ok - frame lanes chosen at load' "$log" | sed "s/^ok - /kernel test ($arch): /" || true
summary=$(grep -E '^KERNEL-TEST SUMMARY:' "$log" | tail -n 1 || true)
failed=0
if [ -z "$summary" ]; then
  [ "$qrc" = 124 ] && echo "kernel test ($arch): the guest ran out of time" >&2
  failed=1
else
  say "$summary"
  case $summary in
    *" failed=0") ;;
    *) failed=1 ;;
  esac
fi
# The guest checks its log itself; this second look also catches what came
# after its check (unload, power-off).
if sed -n '/^=== kernel log ===$/,$p' "$log" |
  grep -E 'BUG|WARNING|Oops|refcount|sleeping function called from invalid context|Call Trace'; then
  echo "kernel test ($arch): kernel log shows a fault" >&2
  failed=1
fi
elapsed=$(($(date +%s) - start))
if [ "$failed" != 0 ]; then
  echo "---- guest console (last 150 lines but the frames logged without session; whole log in $log) ----" >&2
  grep -v "packet processing error - session not found" "$log" | tail -n 150 >&2
  die "see above (${elapsed}s)"
fi
[ "$keep_log" = 1 ] || rm -f "$log"
say "passed in ${elapsed}s"
