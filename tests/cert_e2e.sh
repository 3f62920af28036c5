#!/bin/sh
# End-to-end cases for certificates and accounts with certificates, each run
# inside tests/sandbox with a test PKI made into /tmp/pki.
# usage: cert_e2e.sh CASE IMPEX DATA-DIR MAKE-TEST-PKI
set -u
case=$1 impex=$2 data=$3 make_pki=$4
failures=0
ca=/etc/yrk/cert/ca crl=/etc/yrk/cert/crl user=/home/alice/.yrk/cert/user

fail() { echo "FAIL [$case]: $*" >&2; failures=$((failures + 1)); }

sh "$make_pki" /tmp/pki >/tmp/pki.log 2>&1
pki_status=$?
[ $pki_status = 77 ] && { echo "the OpenSSL GOST engine is missing" >&2; exit 77; }
[ $pki_status = 0 ] || { cat /tmp/pki.log >&2; exit 1; }

# run FILE: impex's standard output in $out, its exit status in $status.
run() {
  out=$("$impex" "$@"; echo "#$?")
  status=${out##*#}
  out=${out%#*}
}

# expect_out TEXT: status 0 and the exact standard output, trailing newlines included.
expect_out() {
  [ "$status" = 0 ] || fail "exit status $status"
  expected=$(printf '%b#' "$1")
  expected=${expected%#}
  [ "$out" = "$expected" ] || fail "output '$out', expected '$expected'"
}

# expect_entries STORE NUMBER...: the store holds exactly these entries.
expect_entries() {
  store=$1
  shift
  actual=$(ls "$store" 2>/dev/null | xargs)
  [ "$actual" = "$*" ] || fail "$store holds '$actual', expected '$*'"
}

# expect_entry STORE NUMBER DER: the entry holds exactly the DER certificate.
expect_entry() {
  cmp -s "$1/$2/cert" "/tmp/pki/$3" || fail "$1/$2 is not $3"
}

# A first run makes the invoking user's and alice's trees; after it a run
# that must change nothing can be compared byte for byte.
first_runs() { run "$data/del_user_cert.xml"; expect_out ''; }

# snapshot / expect_unchanged: every file of the stores and configurations, byte for byte.
# The users' homes only: a checkout kept reachable below /home changes as the
# tests run.
snapshot() { tar -C / -cf "/tmp/snapshot.$1" etc/yrk home/root home/alice home/bob 2>/dev/null; }
expect_unchanged() {
  snapshot now
  cmp -s /tmp/snapshot.before /tmp/snapshot.now || fail "the stores or configurations changed"
}

add_each_type() { run "$data/add_each_type.xml"; expect_out ''; }

invalid='Ошибка: Неверные параметры \n\n'
not_stored='Ошибка записи сертификата в хранилище \n'
account_not_found='Ошибка: Учетная запись не найдена\n'

case $case in
add_each_type)
  add_each_type
  # root twice (DER, PEM) is one entry; a "user" certificate goes to the CAs.
  expect_entries $ca 0000 0001 0002 0003
  expect_entry $ca 0000 root.der
  expect_entry $ca 0001 inter.der
  expect_entry $ca 0002 other.der
  expect_entry $ca 0003 expired.der
  expect_entries $crl 0000 0001
  expect_entry $crl 0000 inter.crl.der
  expect_entry $crl 0001 root.crl.der
  expect_entries /root/.yrk/cert/user
  ;;
add_bundle)
  run "$data/add_bundle.xml"
  expect_out ''
  expect_entries $ca 0000 0001 0002
  run "$data/add_bundle.xml"
  expect_out ''
  expect_entries $ca 0000 0001 0002
  for der in user.der inter.der root.der; do
    found=
    for entry in $ca/*; do cmp -s $entry/cert /tmp/pki/$der && found=1; done
    [ -n "$found" ] || fail "$der is not in the bundle's entries"
  done
  ;;
rsa_refused)
  first_runs
  snapshot before
  run "$data/rsa.xml"
  expect_out "$not_stored"
  expect_unchanged
  expect_entries $ca
  ;;
bad_requests)
  add_each_type
  snapshot before
  run "$data/capitals.xml"
  expect_out "$invalid"
  run "$data/del_without_filter.xml"
  expect_out "$invalid"
  expect_unchanged
  ;;
delete_nothing)
  add_each_type
  snapshot before
  # A pattern Boost.Regex refuses, one it abandons, a word that is only a
  # prefix, a suffix.
  run "$data/del_nothing.xml"
  expect_out ''
  expect_unchanged
  ;;
delete_filters)
  add_each_type
  run "$data/del_subject_cn.xml"
  expect_out ''
  expect_entries $ca 0001 0002 0003
  run "$data/del_issuer_cn.xml"
  expect_out ''
  expect_entries $ca 0001 0002
  # Numbers are reused: everything again, then only the expired one goes.
  add_each_type
  expect_entries $ca 0000 0001 0002 0003
  run "$data/del_expired.xml"
  expect_out ''
  expect_entries $ca 0000 0001 0002
  run "$data/del_organisations.xml"
  expect_out ''
  expect_entries $ca
  expect_entries $crl
  ;;
accounts)
  run "$data/accounts.xml"
  expect_out ''
  # chain.p7b: the user certificate to alice's store, its CAs to the CA store;
  # user.pem is the same certificate, so "home" reuses its number.
  expect_entries $user 0000 0001
  expect_entry $user 0000 user.der
  expect_entry $user 0001 user_noku.der
  expect_entries $ca 0000 0001
  for account in 'work 0000' 'home 0001' 'spare 0001'; do
    set -- $account
    awk -v name="$1" -v cert="$2" '
      /<ACCOUNT>/ { inside = 1; found = ""; number = "" }
      inside && $0 ~ "<NAME>" name "</NAME>" { found = 1 }
      inside && /<CERT>/ { number = $0; gsub(/.*<CERT>|<\/CERT>.*/, "", number) }
      /<\/ACCOUNT>/ { if (found && number == cert) ok = 1; inside = 0 }
      END { exit !ok }' /home/alice/.yrk/cfg || fail "account $1 does not name certificate $2"
  done
  [ "$(stat -c %U /home/alice/.yrk/cert $user $user/* $user/*/cert | sort -u)" = alice ] ||
    fail "alice's certificate directories or entries are not hers"
  ;;
account_again)
  run "$data/accounts.xml"
  snapshot before
  run "$data/account_again.xml"
  expect_out 'Ошибка: Уже существует\n'
  expect_unchanged
  run "$data/del_user_cert.xml"
  expect_out ''
  expect_entries $user 0001
  ;;
rsa_account)
  first_runs
  snapshot before
  run "$data/rsa_account.xml"
  expect_out "$not_stored"
  expect_unchanged
  ;;
*)
  fail "unknown case"
  ;;
esac

[ $failures = 0 ]
