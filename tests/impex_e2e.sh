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

# as_alice COMMAND...: runs it as alice.
as_alice() { setpriv --reuid=alice --regid=alice --init-groups -- "$@"; }

# expect_untouched FILE: FILE is byte for byte what it was at the last keep.
keep() { cp -p "$1" /tmp/kept; }
expect_untouched() { cmp -s "$1" /tmp/kept || fail "$1 changed"; }

# Each one a configuration the next store must refuse rather than replace:
# no element at all (zeroed, binary, KOI8-R), text after the root, between
# elements, around an element inside a value.
damaged_configs() {
  head -c 4096 /dev/zero >/tmp/damaged.1
  printf '\001\377\376binary\000' >/tmp/damaged.2
  printf '\360\322\311\327\305\324 \355\311\322\n' >/tmp/damaged.3
  printf '<YRK>\n\t<SERVERS>\n</SERVERS>\n</YRK>\ntrailing words\n' >/tmp/damaged.4
  printf '<YRK>\n\t<RNG>BIO</RNG>\n\tnote\n\t<SERVERS>\n</SERVERS>\n</YRK>\n' >/tmp/damaged.5
  printf '<YRK>\n\t<RNG>pre<X>1</X>post</RNG>\n\t<SERVERS>\n</SERVERS>\n</YRK>\n' >/tmp/damaged.6
  echo /tmp/damaged.1 /tmp/damaged.2 /tmp/damaged.3 /tmp/damaged.4 /tmp/damaged.5 /tmp/damaged.6
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
xxe)
  run "$data/xxe.xml"
  expect_status 0
  grep -q 'root:' /etc/yrk/cfg && fail "an external entity was read"
  has_server plain || fail "the plain server was not added"
  ;;
damaged_system_config)
  for damaged in $(damaged_configs); do
    install -m 0644 "$damaged" /etc/yrk/cfg
    keep /etc/yrk/cfg
    run "$data/servers_add.xml"
    expect_status 0
    expect_untouched /etc/yrk/cfg
  done
  ;;
damaged_user_config)
  seed_alice
  for damaged in $(damaged_configs); do
    install -m 0600 -o alice -g alice "$damaged" /home/alice/.yrk/cfg
    keep /home/alice/.yrk/cfg
    run "$data/accounts.xml"
    expect_status 0
    expect_untouched /home/alice/.yrk/cfg
  done
  ;;
deep_user_config)
  # Alice's own 16 MB configuration, nested 60 levels: root's import for her
  # must get by in a few hundred megabytes.
  seed_alice
  {
    printf '<YRK>'
    for level in $(seq 60); do printf '<L%s>' "$level"; done
    head -c 16000000 /dev/zero | tr '\0' v
    for level in $(seq 60 -1 1); do printf '</L%s>' "$level"; done
    printf '</YRK>\n'
  } >/home/alice/.yrk/cfg
  out=$(ulimit -v 400000; "$impex" "$data/accounts.xml"; echo "#$?")
  status=${out##*#}
  expect_status 0
  [ "$(tr -cd v </home/alice/.yrk/cfg | wc -c)" = 16000000 ] || fail "the value did not survive"
  ;;
first_use_race)
  # Two runs meet a new user at once: whichever copies the template first,
  # the configuration is the whole template.
  for round in 1 2 3 4 5; do
    rm -rf /home/alice/.yrk
    "$impex" "$data/accounts.xml" >/dev/null &
    "$impex" "$data/accounts.xml" >/dev/null
    wait
    expect_file /home/alice/.yrk/cfg /etc/yrk/defconfig
    [ "$(stat -c %U /home/alice/.yrk/cfg)" = alice ] || fail "round $round: the configuration is not alice's"
  done
  ls -A /home/alice/.yrk | grep -q '^\.' && fail "a temporary file was left in .yrk"
  ;;
killed_run)
  # The daemon never answers the account's parameters; a run ended by a
  # signal meanwhile gives the semaphore back, so the next run goes through
  # at once instead of reporting a busy layer after ten seconds.
  seed_alice
  for signal in INT:130 TERM:143 HUP:129; do
    ended=${signal#*:} signal=${signal%:*}
    # A background job of this shell would start with SIGINT ignored.
    env --default-signal=$signal "$impex" "$data/accounts.xml" >/dev/null &
    pid=$!
    sleep 1
    kill -s $signal $pid
    wait $pid
    [ $? = $ended ] || fail "SIG$signal did not end the waiting run"
    start=$(date +%s)
    run "$data/servers_add.xml"
    expect_status 0
    [ $(($(date +%s) - start)) -lt 5 ] || fail "SIG$signal: the next run waited for the semaphore"
    has_server gate || fail "SIG$signal: the next run did not add its server"
    rm -f /etc/yrk/cfg
  done
  ;;
forged_answers)
  # While root's run waits for the daemon, bob sends datagrams to its socket:
  # they are not the daemon's, and change nothing of the exchange.
  seed_alice
  ("$impex" "$data/accounts.xml" >/tmp/impex.out; echo $? >/tmp/impex.status) &
  for try in 1 2 3 4 5; do
    sleep 0.2
    setpriv --reuid=bob --regid=bob --init-groups -- \
      logger -d -u /tmp/yrkcmds.soc --socket-errors=off "forged answer $try"
  done
  wait
  out=$(cat /tmp/impex.out; echo "#")
  out=${out%#} status=$(cat /tmp/impex.status)
  expect_status 0
  expect_out 'Ошибка: Учетная запись не найдена\n'
  expect_file /home/alice/.yrk/cfg "$data/expected_accounts.cfg"
  ;;
system_account)
  # An account that is no person's (home /var/log, root's) is an unknown user:
  # no ".yrk" is made there, and the run stops at it.
  run "$data/system_account.xml"
  expect_status 0
  expect_out 'Ошибка: Имя пользователя указано неверно \n'
  has_server first || fail "the record before the system account was not applied"
  has_server second && fail "a record after the system account was applied"
  [ -e /var/log/.yrk ] && fail "a tree was made in the system account's home"
  run "$data/homeless_account.xml"
  expect_out 'Ошибка: Имя пользователя указано неверно \n'
  [ -e /home/ghost ] && fail "a home was made for an account without one"
  ;;
linked_configs)
  # Alice's configuration is her own link to her own file: root's import for
  # her works through it, as that of root's links to root's files does.
  seed_alice
  install -m 0600 -o alice -g alice "$data/alice.cfg" /home/alice/real.cfg
  rm /home/alice/.yrk/cfg
  as_alice ln -s ../real.cfg /home/alice/.yrk/cfg
  run "$data/accounts.xml"
  expect_status 0
  expect_file /home/alice/real.cfg "$data/expected_accounts.cfg"
  [ -L /home/alice/.yrk/cfg ] || fail "alice's link was replaced"
  # Root's linked template gives the new system configuration its content.
  mv /etc/yrk/defconfig /etc/yrk/real-defconfig
  ln -s real-defconfig /etc/yrk/defconfig
  run "$data/servers_add.xml"
  expect_file /etc/yrk/cfg "$data/expected_servers_add.cfg"
  # Root's linked system configuration is changed where it points.
  mv /etc/yrk/cfg /etc/yrk/real.cfg
  ln -s real.cfg /etc/yrk/cfg
  run "$data/servers_del.xml"
  expect_file /etc/yrk/real.cfg "$data/expected_servers_del.cfg"
  [ -L /etc/yrk/cfg ] || fail "root's link was replaced"
  ;;
*)
  fail "no such case"
  ;;
esac
[ $failures -eq 0 ]
