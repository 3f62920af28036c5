#!/bin/sh
# End-to-end cases for yrkctl against the stand-in daemon, each run inside
# tests/sandbox; cases that connect make a test PKI into /tmp/pki and import
# alice's accounts first.
# usage: yrkctl_e2e.sh CASE YRKCTL IMPEX DATA-DIR MAKE-TEST-PKI
set -u
case=$1 yrkctl_built=$2 impex=$3 data=$4 make_pki=$5
failures=0
log=/var/log/yrk.log

fail() { echo "FAIL [$case]: $*" >&2; failures=$((failures + 1)); }

# Other users must be able to run it wherever the checkout lives.
install -d -m 0755 /tmp/bin
install -m 0755 "$yrkctl_built" /tmp/bin/yrkctl
yrkctl=/tmp/bin/yrkctl

# run [as USER] ARGS...: yrkctl's standard output in $out, standard error in
# $err, exit status in $status.
run() {
  if [ "${1:-}" = as ]; then
    user=$2
    shift 2
    set -- setpriv --reuid="$user" --regid="$user" --init-groups -- "$yrkctl" "$@"
  else
    set -- "$yrkctl" "$@"
  fi
  out=$("$@" 2>/tmp/err; echo "#$?")
  status=${out##*#}
  out=${out%#*}
  err=$(cat /tmp/err)
}

expect_status() { [ "$status" = "$1" ] || fail "exit status $status, expected $1 (stderr: $err)"; }
expect_out() {
  expected=$(printf '%b#' "$1")
  expected=${expected%#}
  [ "$out" = "$expected" ] || fail "output '$out', expected '$expected'"
}
expect_out_has() { case $out in *"$1"*) ;; *) fail "output lacks '$1': $out" ;; esac; }
expect_err_has() { case $err in *"$1"*) ;; *) fail "stderr lacks '$1': $err" ;; esac; }
expect_lines() {  # expect_lines N: the output has N lines
  lines=$(printf '%s' "$out" | grep -c '')
  [ "$lines" = "$1" ] || fail "$lines output lines, expected $1: $out"
}

# The test PKI and, through impex, the CAs, lists and alice's accounts "work"
# (a certificate that verifies, entry 0000) and "old" (one that has expired,
# 0001).
setup_accounts() {
  sh "$make_pki" /tmp/pki >/tmp/pki.log 2>&1
  pki_status=$?
  [ $pki_status = 77 ] && { echo "the OpenSSL GOST engine is missing" >&2; exit 77; }
  [ $pki_status = 0 ] || { cat /tmp/pki.log >&2; exit 1; }
  chmod -R a+rX /tmp/pki
  impex_out=$("$impex" "$data/setup.xml")
  [ -z "$impex_out" ] || { echo "import failed: $impex_out" >&2; exit 1; }
}

# Every line of the event log as root lists it.
all_events() { run events --level INFO,ERROR,FATAL,TRAFF,DEBUG; }

password='s3cret pass'
printf '%s\n' "$password" >/tmp/password
chmod 0644 /tmp/password

case $case in
usage)
  run
  expect_status 2
  expect_err_has "usage: yrkctl"
  run --help
  expect_status 0
  expect_out_has "integrity check | update"
  for command in connect disconnect stats events cert integrity help; do
    run "$command" --help
    expect_status 0
    expect_out_has "usage: yrkctl [-u USER] $command"
  done
  run frobnicate
  expect_status 2
  expect_err_has "no such command: frobnicate"
  run stats --bogus
  expect_status 2
  run disconnect work --server 10.0.0.1
  expect_status 2
  run disconnect --server ''
  expect_status 2
  expect_err_has "empty"
  run cert verify zz
  expect_status 2
  ;;
no_daemon)
  run stats
  expect_status 1
  expect_err_has "not running"
  ;;
connect)
  setup_accounts
  run as alice connect work </dev/null
  expect_status 2
  expect_err_has "--password-fd"
  run as alice connect work --password-fd 3 3</tmp/password
  expect_status 0
  grep -q "request kind=1 " /tmp/yrkd.log || fail "no connect request reached the daemon"
  grep -q "$password" /tmp/yrkd.log "$log" && fail "the password was logged"
  run as alice connect old --password-fd 0 </tmp/password
  expect_status 1
  expect_err_has "Неверный срок действия сертификата пользователя"
  [ "$(grep -c 'request kind=1 ' /tmp/yrkd.log)" = 1 ] || fail "an expired certificate was sent on"
  run as alice connect none --password-fd 0 </tmp/password
  expect_status 1
  expect_err_has "Учетная запись не найдена"
  # Root connects alice's account for her.
  run -u alice connect work --password-fd 0 </tmp/password
  expect_status 0
  run as alice -u bob stats
  expect_status 1
  expect_err_has "права суперпользователя"
  long=$(printf '%065d' 0)
  echo "$long" >/tmp/long
  run as alice connect work --password-fd 0 </tmp/long
  expect_status 1
  expect_err_has "Слишком длинный пароль"
  ;;
connect_fails)
  setup_accounts
  run as alice connect work --password-fd 0 </tmp/password
  expect_status 1
  expect_out 'Сервер не отвечает \n'
  expect_err_has "Ошибка подключения"
  ;;
disconnect)
  setup_accounts
  run as alice disconnect work
  expect_status 0
  run as alice disconnect --server 10.0.0.7
  expect_status 0
  run as alice disconnect
  expect_status 0
  run as alice disconnect --server 10.0.x.1
  expect_status 1
  expect_err_has "Неверные параметры"
  [ "$(grep -c 'request kind=2 ' /tmp/yrkd.log)" = 3 ] || fail "three disconnect requests expected"
  ;;
stats)
  run stats
  expect_status 0
  expect_lines 3
  expect_out_has "Учетная запись"
  expect_out_has "10.0.0.1:4500"
  expect_out_has "установлено"
  expect_out_has "1:02:05"
  expect_out_has "123456/100"
  expect_out_has "дом"
  # The columns line up by characters: "Сервер" starts where each address does.
  # Counted in characters whatever the caller's locale.
  header_at=$(printf '%s\n' "$out" | sed -n 1p | sed 's/Сервер.*//' | LC_ALL=C.UTF-8 wc -m)
  row_at=$(printf '%s\n' "$out" | sed -n 2p | sed 's/10\.0\.0\.1.*//' | LC_ALL=C.UTF-8 wc -m)
  [ "$header_at" = "$row_at" ] || fail "columns do not line up: $header_at, $row_at"
  run stats --json --server 10.0.0.1
  expect_status 0
  expect_out_has '{"result": 0, "sessions": [{"account": "work", "server": "10.0.0.1", "server_port": 4500'
  expect_out_has '"status": "up"'
  expect_out_has '"bytes_received": 123456'
  expect_out_has '{"account": "дом"'
  grep -q "request kind=3 length=44 payload=000000000100000a" /tmp/yrkd.log ||
    fail "the server address was not sent"
  run stats --server 10.0.x.1
  expect_status 1
  expect_err_has "Неверные параметры"
  ;;
stats_refused)
  run stats --json
  expect_status 1
  expect_out '{"result": -1019, "sessions": []}\n'
  expect_err_has "Ошибка обмена ключевой информацией EAP"
  ;;
events)
  setup_accounts
  run as alice disconnect work
  run as bob disconnect
  run stats
  all_events
  expect_status 0
  expect_out_has "alice"
  expect_out_has "bob"
  expect_out_has "root"
  run events --user alice
  expect_status 0
  printf '%s' "$out" | grep -v -q alice && fail "a line without alice: $out"
  # An administrator may let users read the log (a group, an ACL); they still
  # list only the lines that name them.
  chmod 0644 $log
  run as bob events
  expect_status 0
  [ -n "$out" ] || fail "bob sees none of his events"
  printf '%s' "$out" | grep -v -q bob && fail "bob sees lines of others: $out"
  run as bob events --user alice
  expect_status 1
  expect_err_has "права суперпользователя"
  run events --level FATAL
  expect_status 0
  expect_out ''
  run events --level nothing
  expect_status 1
  expect_err_has "Неверные параметры"
  run events --from '32.01.2026 00:00:00'
  expect_status 1
  run events --from '01.01.2999 00:00:00'
  expect_status 0
  expect_out ''
  run events --from '01.01.2000 00:00:00' --to '01.01.2999 00:00:00'
  expect_status 0
  expect_out_has "alice"
  chmod 0600 $log
  run as bob events
  expect_status 1
  expect_err_has "Не удалось извлечь данные из журнала сообщений"
  ;;
cert_verify)
  setup_accounts
  run as alice cert verify 0
  expect_status 0
  expect_out 'Сертификат действителен\n'
  run as alice cert verify 0001
  expect_status 1
  expect_err_has "Неверный срок действия сертификата пользователя"
  run as alice cert verify 7
  expect_status 1
  expect_err_has "Ошибка хранилища сертификатов"
  ;;
integrity)
  echo first >/etc/yrk/one
  echo second >/etc/yrk/two
  run integrity check
  expect_status 1
  expect_err_has "Ошибка при проверке целостности файлов"
  printf '/etc/yrk/one\n\n/etc/yrk/two\n' >/etc/yrk/filelist
  run integrity update
  expect_status 0
  [ "$(stat -c %s /etc/yrk/.csum)" = 32 ] || fail "the reference is not 32 bytes"
  run integrity check
  expect_status 0
  expect_out 'Целостность файлов не нарушена\n'
  run as alice integrity update
  expect_status 1
  expect_err_has "права суперпользователя"
  echo changed >>/etc/yrk/two
  run integrity check
  expect_status 1
  expect_err_has "Ошибка: Нарушена целостность файлов. Обратитесь к администратору безопасности"
  rm /etc/yrk/filelist
  run integrity check
  expect_status 1
  expect_err_has "filelist not found"
  expect_err_has "Ошибка при проверке целостности файлов"
  ;;
*)
  fail "unknown case"
  ;;
esac

[ $failures = 0 ]
