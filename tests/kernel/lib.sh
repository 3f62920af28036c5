# Shell pieces the QEMU stages share; sourced after say() and die() exist.

# install_missing PACKAGE...: installs those not installed yet.
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

# The kernel version linux-image-amd64 installs (not the running one, which
# may be anything on a CI host), with the image and its headers installed;
# only the version goes to standard output.
installed_amd64_kernel() {
  install_missing linux-image-amd64 linux-headers-amd64 >&2
  kver=$(dpkg-query -W -f='${Depends}' linux-image-amd64 | tr ',' '\n' |
    sed -n 's/^ *linux-image-\([0-9][^ ]*\).*/\1/p' | head -n 1)
  [ -n "$kver" ] || die "cannot tell the version linux-image-amd64 installs"
  install_missing "linux-headers-$kver" >&2
  echo "$kver"
}

# unpack_module NAME DESTINATION: the kernel's module NAME from $moddir,
# decompressed (busybox insmod takes plain objects only).
unpack_module() {
  src=$(find "$moddir" -name "$1.ko*" | head -n 1)
  [ -n "$src" ] || die "kernel module $1 not found under $moddir"
  case $src in
    *.ko.xz) xz -dc "$src" >"$2" ;;
    *.ko.zst) zstd -q -dc "$src" >"$2" ;;
    *.ko.gz) gzip -dc "$src" >"$2" ;;
    *) cp "$src" "$2" ;;
  esac
}
