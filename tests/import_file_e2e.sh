#!/bin/sh
# End-to-end cases for the file impex is given, each run inside tests/sandbox
# with the stand-in daemon: a path that is no regular file, a file built to
# stall the XML parser, and a hand-formatted one.
# usage: import_file_e2e.sh CASE IMPEX DATA-DIR
set -u
case=$1 impex=$2
failures=0

fail() { echo "FAIL [$case]: $*" >&2; failures=$((failures + 1)); }

# The checkout may be out of reach for other users; the sandbox's /tmp is not.
data=/tmp/import_file_e2e
cp -R "$3" "$data"

# run FILE: impex on FILE, stopped after 10 seconds (exit status 124); its
# standard output in $out, standard error in $err, exit status in $status.
run() {
  out=$(timeout 10 "$impex" "$1" 2>/tmp/impex.err; echo "#$?")
  status=${out##*#}
  out=${out%#*}
  err=$(cat /tmp/impex.err)
}

# expect_refused FILE REASON: with a server already configured, impex on
# FILE leaves /etc/yrk/cfg byte for byte as it was, prints nothing on standard
# output and names FILE and REASON on standard error.
expect_refused() {
  run "$data/pretty_server.xml"
  cp -p /etc/yrk/cfg /tmp/cfg.before
  run "$1"
  [ "$status" = 0 ] || fail "exit status $status, expected 0"
  [ -z "$out" ] || fail "output '$out', expected none"
  [ "$err" = "impex: $1: $2" ] || fail "diagnostic '$err', expected 'impex: $1: $2'"
  cmp -s /etc/yrk/cfg /tmp/cfg.before || fail "/etc/yrk/cfg changed"
}

case $case in
fifo)
  # No process ever writes to it.
  mkfifo /tmp/import.fifo
  expect_refused /tmp/import.fifo 'not a regular file'
  ;;
directory)
  mkdir /tmp/import.d
  expect_refused /tmp/import.d 'not a regular file'
  ;;
device)
  expect_refused /dev/zero 'not a regular file'
  ;;
many_attributes)
  # About 3 MB: 300,000 attributes on one server.
  awk 'BEGIN {
    printf "<Sections><Section Action=\"Add\"><Server"
    for (i = 0; i < 300000; i++) printf " a%d=\"\"", i
    print ">many</Server></Section></Sections>"
  }' >/tmp/many.xml
  expect_refused /tmp/many.xml 'too many attributes on one element'
  ;;
pretty_name)
  run "$data/pretty_server.xml"
  [ "$status" = 0 ] || fail "exit status $status, expected 0"
  [ -z "$out$err" ] || fail "output '$out', diagnostic '$err', expected none"
  cmp -s /etc/yrk/cfg "$data/expected_pretty_server.cfg" ||
    { fail "/etc/yrk/cfg is not as expected"; diff "$data/expected_pretty_server.cfg" /etc/yrk/cfg >&2; }
  ;;
*)
  fail "no such case"
  ;;
esac
[ $failures -eq 0 ]
