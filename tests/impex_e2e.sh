#!/bin/sh
# End-to-end cases for impex, each run inside tests/sandbox (a fresh private
# /etc/yrk, /tmp, /dev/shm and home directories per case).
# usage: impex_e2e.sh CASE IMPEX DATA-DIR
set -u
case=$1 impex=$2 data=$3
failures=0

fail() { echo "FAIL [$case]: $*" >&2; failures=$((failures + 1)); }

# run FILE: impex's standard output in $out, its exit status in $status.
run() {
  out=$("$impex" "$@"; echo "#$?")
  status=${out##*#}
  out=${out%#*}
}

expect_status() { [ "$status" = "$1" ] || fail "exit status $status, expected $1"; }

# expect_out TEXT: the exact standard output, trailing newlines included.
expect_out() {
  expected=$(printf '%b#' "$1")
  expected=${expected%#}
  [ "$out" = "$expected" ] || fail "output '$out', expected '$expected'"
}

expect_file() {  # expect_file ACTUAL EXPECTED
  cmp -s "$1" "$2" || { fail "$1 differs from $2"; diff "$2" "$1" >&2; }
}

has_server() { grep -q "<NAME>$1</NAME>" /etc/yrk/cfg 2>/dev/null; }

seed_alice() {
  install -d -m 0700 -o alice -g alice /home/alice/.yrk
  install -m 0600 -o alice -g alice "$data/alice.cfg" /home/alice/.yrk/cfg
}

case $case in
usage)
  run
  expect_status 255
  expect_out "usage: $impex <IMPORT-EXPORT FILE>\n"
  ;;
no_semaphore)
  run "$data/servers_add.xml"
  expect_status 242
  expect_out 'Системная ошибка \n'
  has_server gate && fail "a server was added without the semaphore"
  ;;
missing_file)
  run /nonexistent.xml
  expect_status 0
  expect_out ''
  ;;
store_stops)
  run "$data/store_stops.xml"
  expect_status 242
  expect_out 'Системная ошибка \n'
  has_server first || fail "the section before Store was not applied"
  has_server second && fail "a section after Store was applied"
  ;;
unknown_user)
  run "$data/unknown_user.xml"
  expect_status 0
  expect_out 'Ошибка: Имя пользователя указано неверно \n'
  has_server first || fail "the record before the unknown user was not applied"
  has_server second && fail "a record after the unknown user was applied"
  ;;
two_failures)
  run "$data/two_failures.xml"
  expect_status 0
  expect_out 'Ошибка: Неверные параметры \n\n'
  ;;
servers)
  run "$data/servers_add.xml"
  expect_status 0
  expect_out 'Ошибка: Уже существует\n'
  expect_file /etc/yrk/cfg "$data/expected_servers_add.cfg"
  run "$data/servers_del.xml"
  expect_status 0
  expect_out 'Ошибка: Запись не найдена\n'
  expect_file /etc/yrk/cfg "$data/expected_servers_del.cfg"
  ;;
accounts)
  seed_alice
  run "$data/accounts.xml"
  expect_status 0
  expect_out 'Ошибка: Учетная запись не найдена\n'
  expect_file /home/alice/.yrk/cfg "$data/expected_accounts.cfg"
  [ "$(stat -c '%U:%G %a' /home/alice/.yrk/cfg)" = 'alice:alice 600' ] ||
    fail "alice's configuration changed owner, group or mode"
  # The modified account's 44-byte block went to the daemon: 10.1.2.3, ports
  # 4433 and 7600, MTU 1300, traffic logged, 3 tries 10 s apart, reconnect,
  # disconnect after 30.
  grep -q 'kind=6 length=44 payload=000000000302010a000000005111b01d1405000001000000030000000a000000010000001e00000000000000' \
    /tmp/yrkd.log || fail "the daemon did not get the account's parameters"
  # Once alice may not write her configuration, root's import for her may not
  # either.
  chmod 0400 /home/alice/.yrk/cfg
  run "$data/accounts.xml"
  expect_status 0
  expect_out 'Ошибка: Не удалось обработать команду \n'
  expect_file /home/alice/.yrk/cfg "$data/expected_accounts.cfg"
  ;;
own_account)
  # An ordinary user changes her own configuration; the user is the caller.
  # What she runs and reads is copied in: the checkout may lie where she
  # cannot go (root's home).
  seed_alice
  install -D -m 0755 "$impex" /tmp/alice/impex
  install -m 0644 "$data/accounts.xml" /tmp/alice/accounts.xml
  out=$(setpriv --reuid=alice --regid=alice --init-groups -- /tmp/alice/impex /tmp/alice/accounts.xml; echo "#$?")
  status=${out##*#} out=${out%#*}
  expect_status 0
  expect_out 'Ошибка: Учетная запись не найдена\n'
  expect_file /home/alice/.yrk/cfg "$data/expected_accounts.cfg"
  ;;
linked_home)
  # Alice's ".yrk" leads to /etc/yrk, which holds a configuration with her
  # accounts: root's import for her must neither read nor replace it.
  install -m 0644 "$data/alice.cfg" /etc/yrk/cfg
  cp -p /etc/yrk/cfg /tmp/cfg.before
  ln -s /etc/yrk /home/alice/.yrk
  run "$data/accounts.xml"
  expect_status 0
  expect_out 'Ошибка: Не удалось обработать команду \n'
  expect_file /etc/yrk/cfg /tmp/cfg.before
  [ "$(stat -c %U /etc/yrk/cfg)" = root ] || fail "/etc/yrk/cfg was handed to alice"
  [ -L /home/alice/.yrk ] || fail "the link was replaced"
  grep -q 'kind=6' /tmp/yrkd.log && fail "the daemon got parameters read through the link"
  ;;
unwired)
  run "$data/unwired.xml"
  expect_status 0
  expect_out 'Ошибка: Неверные параметры \n\n'
  ;;
xxe)
  run "$data/xxe.xml"
  expect_status 0
  grep -q 'root:' /etc/yrk/cfg && fail "an external entity was read"
  has_server plain || fail "the plain server was not added"
  ;;
*)
  fail "no such case"
  ;;
esac
[ $failures -eq 0 ]
