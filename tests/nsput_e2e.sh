#!/bin/sh
# End-to-end cases for nsput, each run inside tests/sandbox. The sandbox's
# /etc is an overlay on the host's; before touching /etc/resolv.conf a case
# makes sure of that, or lays a private copy of /etc over it, and stops
# when it cannot.
# usage: nsput_e2e.sh CASE NSPUT
set -u
case=$1 nsput=$2
failures=0

[ "${YRK_SANDBOX:-}" = 1 ] || { echo "nsput_e2e.sh: runs inside tests/sandbox only" >&2; exit 2; }

fail() { echo "FAIL [$case]: $*" >&2; failures=$((failures + 1)); }

# A private /etc: the sandbox's overlay, with resolv.conf no mount of its own
# (a container's bind mount could not be renamed over, and leads out).
private_etc() {
  if [ "$(findmnt -n -o FSTYPE --mountpoint /etc)" = overlay ] &&
     ! findmnt -n --mountpoint /etc/resolv.conf >/dev/null; then
    return 0
  fi
  mkdir /tmp/etc-copy && cp -a /etc/. /tmp/etc-copy/ && mount --bind /tmp/etc-copy /etc || exit 2
  [ "$(findmnt -n -o FSTYPE --mountpoint /etc)" = tmpfs ] || exit 2
}
private_etc

# The resolver file every case starts from; the link a host may have there
# is removed first, never written through.
old='nameserver 192.0.2.1'
rm -f /etc/resolv.conf
printf '%s\n' "$old" >/etc/resolv.conf
printf '%s\n' "$old" >/tmp/resolv.old

# The program where every user can run it (the build tree may be out of
# others' reach).
mkdir -m 0755 /tmp/bin
cp "$nsput" /tmp/bin/nsput
chmod 0755 /tmp/bin/nsput

# run COMMAND...: standard output in $out, standard error in $err, exit
# status in $status.
run() {
  out=$("$@" 2>/tmp/stderr; echo "#$?")
  status=${out##*#}
  out=${out%#*}
  err=$(cat /tmp/stderr)
}

expect_status() { [ "$status" = "$1" ] || fail "exit status $status, expected $1"; }

# expect_out TEXT: the exact standard output, trailing newlines included.
expect_out() {
  expected=$(printf '%b#' "$1")
  expected=${expected%#}
  [ "$out" = "$expected" ] || fail "output '$out', expected '$expected'"
}

expect_resolv() {  # expect_resolv FILE: /etc/resolv.conf is a regular copy of FILE
  [ -f /etc/resolv.conf ] && [ ! -L /etc/resolv.conf ] || fail "/etc/resolv.conf is no regular file"
  cmp -s /etc/resolv.conf "$1" || fail "/etc/resolv.conf differs from $1"
  [ "$(stat -c '%a %u %g' /etc/resolv.conf)" = "644 0 0" ] ||
    fail "/etc/resolv.conf is $(stat -c '%a %u %g' /etc/resolv.conf), expected 644 0 0"
}
expect_old() { expect_resolv /tmp/resolv.old; }

as_alice() { setpriv --reuid=alice --regid=alice --init-groups -- "$@"; }

# A set-user-ID root copy of the program.
setuid_copy() {
  cp /tmp/bin/nsput /tmp/bin/nsput-suid
  chown root:root /tmp/bin/nsput-suid
  chmod 4755 /tmp/bin/nsput-suid
}

printf 'search example.org\nnameserver 192.0.2.53\n' >/tmp/new.conf
chmod 0644 /tmp/new.conf

case $case in
no_argument)
  run /tmp/bin/nsput
  expect_status 255
  expect_out ''
  [ -z "$err" ] || fail "standard error '$err'"
  expect_old
  ;;
missing_source)
  run /tmp/bin/nsput /tmp/missing.conf
  expect_status 255
  expect_out 'source file not found\n'
  expect_old
  ;;
two_arguments)
  run /tmp/bin/nsput /tmp/new.conf /tmp/missing.conf
  expect_status 0
  expect_out ''
  expect_resolv /tmp/new.conf
  ;;
installs)
  umask 077
  run /tmp/bin/nsput /tmp/new.conf
  expect_status 0
  expect_out ''
  [ -z "$err" ] || fail "standard error '$err'"
  expect_resolv /tmp/new.conf
  ;;
empty_source)
  : >/tmp/empty.conf
  run /tmp/bin/nsput /tmp/empty.conf
  expect_status 0
  expect_resolv /tmp/empty.conf
  ;;
directory_source)
  mkdir /tmp/dir.conf
  run /tmp/bin/nsput /tmp/dir.conf
  expect_status 1
  expect_out 'source file is not a regular file\n'
  expect_old
  ;;
fifo_source)
  mkfifo /tmp/fifo.conf
  run timeout 10 /tmp/bin/nsput /tmp/fifo.conf
  [ "$status" = 124 ] && fail "nsput hung on a FIFO"
  expect_status 1
  expect_out 'source file is not a regular file\n'
  expect_old
  ;;
device_source)
  run timeout 10 /tmp/bin/nsput /dev/zero
  expect_status 1
  expect_out 'source file is not a regular file\n'
  expect_old
  ;;
large_source)
  truncate -s 2M /tmp/big.conf
  run /tmp/bin/nsput /tmp/big.conf
  expect_status 1
  expect_out 'source file is too large\n'
  expect_old
  ;;
linked_target)
  # As systemd-resolved sets it up: the link itself is replaced.
  printf 'nameserver 127.0.0.53\n' >/tmp/stub-resolv.conf
  cp /tmp/stub-resolv.conf /tmp/stub.kept
  rm /etc/resolv.conf
  ln -s /tmp/stub-resolv.conf /etc/resolv.conf
  run /tmp/bin/nsput /tmp/new.conf
  expect_status 0
  expect_out ''
  [ "$err" = "nsput: /etc/resolv.conf was a symbolic link to /tmp/stub-resolv.conf; replaced by a regular file" ] ||
    fail "standard error '$err'"
  expect_resolv /tmp/new.conf
  cmp -s /tmp/stub-resolv.conf /tmp/stub.kept || fail "the link's target changed"
  ;;
unprivileged)
  run as_alice /tmp/bin/nsput /tmp/new.conf
  expect_status 1
  expect_out 'cannot write /etc/resolv.conf\n'
  expect_old
  ;;
setuid_unreadable)
  setuid_copy
  printf 'nameserver 192.0.2.66\n' >/tmp/secret.conf
  chmod 0600 /tmp/secret.conf
  mkdir -m 0700 /tmp/closed
  cp /tmp/new.conf /tmp/closed/new.conf
  # Readable by root alone: refused although the program runs as root.
  run as_alice /tmp/bin/nsput-suid /tmp/secret.conf
  expect_status 1
  expect_out 'cannot read source file\n'
  expect_old
  # Not even its existence shows through a directory alice cannot search.
  run as_alice /tmp/bin/nsput-suid /tmp/closed/new.conf
  expect_status 255
  expect_out 'source file not found\n'
  expect_old
  ;;
setuid_installs)
  setuid_copy
  install -m 0600 -o alice -g alice /tmp/new.conf /home/alice/resolv.conf
  run as_alice /tmp/bin/nsput-suid /home/alice/resolv.conf
  expect_status 0
  expect_out ''
  expect_resolv /tmp/new.conf
  ;;
*)
  echo "unknown case $case" >&2
  exit 2
  ;;
esac

leftovers=$(ls -a /etc | grep '^\.resolv\.conf\.' || true)
[ -z "$leftovers" ] || fail "temporary files left: $leftovers"
[ "$failures" = 0 ] || exit 1
echo "ok [$case]"
