#!/bin/sh
# make_test_pki.sh OUTDIR: builds a GOST R 34.10-2001 test PKI with the OpenSSL
# GOST engine, an implementation independent of ours. Writes only below OUTDIR
# (created if missing) and works from any current directory. Exit status 77
# when the gost engine cannot be loaded, any other non-zero on failure.
#
# Every certificate is in OUTDIR as NAME.pem and NAME.der, its key as NAME.key
# (PEM, unencrypted); every CRL as NAME.crl.pem and NAME.crl.der. Keys are
# gost2001 on paramset A, digests GOST R 34.11-94 (md_gost94).
#
#   root            self-signed root CA "Test Root CA" (keyCertSign, cRLSign)
#   inter           intermediate CA "Test Intermediate CA", issued by root
#   user            end entity issued by inter: keyUsage digitalSignature,
#                   keyEncipherment, keyAgreement; two CRL distribution point
#                   URIs (http://crl.example.test/inter.crl, ldap://ldap.example.test/inter);
#                   subject with two OU entries and an emailAddress;
#                   valid 2020-01-01 00:00:00Z .. 2049-12-31 23:59:59Z
#   user_noku       end entity issued by inter, no keyUsage extension
#   signer          end entity issued by inter that also has nonRepudiation, as
#                   a connection's user certificate must; valid 2020 .. 2049
#   signer_expired  the same usage, valid 2001 .. 2002
#   expired         issued by inter, valid 2001-01-01 .. 2002-01-01
#   future          issued by inter, valid 2090-01-01 .. 2091-01-01
#   revoked         issued by inter with serial 0x1005, revoked in inter.crl
#   other           self-signed root CA "Test Other CA"
#   other_user      issued by other with the same serial 0x1005, revoked in other.crl
#   inter.crl       current CRL of inter (revokes serial 0x1005)
#   other.crl       current CRL of other (revokes serial 0x1005)
#   inter_stale.crl CRL of inter whose nextUpdate (2002-01-01) has passed
#   root.crl        current CRL of root, empty
#   chain.pem       user, inter, root as PEM in that order
#   chain.p7b       the same three as a DER PKCS#7 signedData (crl2pkcs7)
#   rsa             self-signed RSA-2048 certificate (sha256)
#   rsa_chain.p7b   DER PKCS#7 holding user and rsa
#   cross_a         subject "Test Cross A" issued by "Test Cross B"
#   cross_b         subject "Test Cross B" issued by "Test Cross A"
#                   (each CA signs the other; neither is self-signed)
#   request.pem/.der  a PKCS#10 request for "Test Request", key request.key
#   openssl.cnf     the configuration that loads the engine (OPENSSL_CONF)
set -eu

[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
cd "$out"

cat >openssl.cnf <<'EOF'
openssl_conf = openssl_init
[openssl_init]
engines = engine_section
[engine_section]
gost = gost_section
[gost_section]
engine_id = gost
default_algorithms = ALL

[req]
distinguished_name = req_dn
string_mask = utf8only
utf8 = yes
prompt = no
[req_dn]
CN = unused

[ca_default]
dir = .
database = $dir/$ENV::CA_NAME.db
serial = $dir/$ENV::CA_NAME.serial
new_certs_dir = $dir/$ENV::CA_NAME.issued
certificate = $dir/$ENV::CA_NAME.pem
private_key = $dir/$ENV::CA_NAME.key
default_md = md_gost94
default_days = 3650
default_crl_days = 30
policy = policy_any
unique_subject = no
email_in_dn = yes
preserve = yes
copy_extensions = none
[policy_any]
commonName = supplied
organizationalUnitName = optional
emailAddress = optional
organizationName = optional
countryName = optional

[v3_ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[v3_user]
basicConstraints = CA:false
keyUsage = critical, digitalSignature, keyEncipherment, keyAgreement
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
crlDistributionPoints = URI:http://crl.example.test/inter.crl, URI:ldap://ldap.example.test/inter
[v3_signer]
basicConstraints = CA:false
keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[v3_noku]
basicConstraints = CA:false
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[v3_cross]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
[crl_ext]
authorityKeyIdentifier = keyid:always
EOF
OPENSSL_CONF="$out/openssl.cnf"
export OPENSSL_CONF
# The CA sections name their files after CA_NAME, which every tool run expands.
CA_NAME=none
export CA_NAME
# Nothing from the caller's environment may redirect the tool elsewhere.
unset OPENSSL_ENGINES RANDFILE 2>/dev/null || true

openssl engine gost >/dev/null 2>&1 || { echo "the OpenSSL gost engine is not available" >&2; exit 77; }

q() { "$@" >/dev/null 2>"$out/last.err" || { cat "$out/last.err" >&2; exit 1; }; }

key() { q openssl genpkey -engine gost -algorithm gost2001 -pkeyopt paramset:A -out "$1.key"; }

# csr NAME SUBJECT
csr() { key "$1"; q openssl req -engine gost -new -md_gost94 -key "$1.key" -subj "$2" -out "$1.csr"; }

# ca_db CA: an empty database for a CA.
ca_db() {
  : >"$1.db"
  mkdir -p "$1.issued"
  echo 1000 >"$1.serial"
}

# sign CA NAME EXTENSIONS [openssl ca options]: NAME.csr issued by CA.
sign() {
  ca=$1 name=$2 ext=$3
  shift 3
  CA_NAME=$ca q openssl ca -engine gost -batch -notext -name ca_default -extensions "$ext" \
    -in "$name.csr" -out "$name.pem" "$@"
  q openssl x509 -in "$name.pem" -outform DER -out "$name.der"
}

# self_ca NAME SUBJECT: a self-signed CA.
self_ca() {
  csr "$1" "$2"
  ca_db "$1"
  CA_NAME=$1 q openssl ca -engine gost -batch -notext -name ca_default -selfsign -keyfile "$1.key" \
    -extensions v3_ca -in "$1.csr" -out "$1.pem" -startdate 20000101000000Z -enddate 20991231235959Z
  q openssl x509 -in "$1.pem" -outform DER -out "$1.der"
}

# crl CA NAME [openssl ca options]: NAME.crl.pem and NAME.crl.der signed by CA.
crl() {
  ca=$1 name=$2
  shift 2
  CA_NAME=$ca q openssl ca -engine gost -gencrl -name ca_default -crlexts crl_ext -out "$name.crl.pem" "$@"
  q openssl crl -in "$name.crl.pem" -outform DER -out "$name.crl.der"
}

self_ca root "/CN=Test Root CA/O=Yrk Test"

csr inter "/CN=Test Intermediate CA/O=Yrk Test"
sign root inter v3_ca -startdate 20000101000000Z -enddate 20991231235959Z
ca_db inter

csr user "/CN=Test User/OU=First Unit/OU=Second Unit/O=Yrk Test/emailAddress=user@example.test"
sign inter user v3_user -startdate 20200101000000Z -enddate 20491231235959Z
csr user_noku "/CN=Test User Without Usage/O=Yrk Test"
sign inter user_noku v3_noku
csr expired "/CN=Test Expired/O=Yrk Test"
sign inter expired v3_user -startdate 20010101000000Z -enddate 20020101000000Z
csr future "/CN=Test Future/O=Yrk Test"
sign inter future v3_user -startdate 20900101000000Z -enddate 20910101000000Z
csr revoked "/CN=Test Revoked/O=Yrk Test"
echo 1005 >inter.serial
sign inter revoked v3_user
CA_NAME=inter q openssl ca -engine gost -name ca_default -revoke revoked.pem -crl_reason keyCompromise
crl inter inter
crl inter inter_stale -crl_lastupdate 20010101000000Z -crl_nextupdate 20020101000000Z
crl root root

self_ca other "/CN=Test Other CA/O=Yrk Test"
csr other_user "/CN=Test Revoked/O=Yrk Test"
echo 1005 >other.serial
sign other other_user v3_user
CA_NAME=other q openssl ca -engine gost -name ca_default -revoke other_user.pem
crl other other

cat user.pem inter.pem root.pem >chain.pem
q openssl crl2pkcs7 -nocrl -certfile chain.pem -outform DER -out chain.p7b

q openssl req -x509 -newkey rsa:2048 -nodes -sha256 -keyout rsa.key -subj "/CN=Test RSA" -days 3650 -out rsa.pem
q openssl x509 -in rsa.pem -outform DER -out rsa.der
cat user.pem rsa.pem >rsa_chain.pem
q openssl crl2pkcs7 -nocrl -certfile rsa_chain.pem -outform DER -out rsa_chain.p7b

# Two CAs that sign each other: self-signed bootstrap certificates give each
# CA a signer, then each issues the other's real certificate.
self_ca cross_a_boot "/CN=Test Cross A/O=Yrk Test"
self_ca cross_b_boot "/CN=Test Cross B/O=Yrk Test"
cp cross_a_boot.key cross_a.key
cp cross_b_boot.key cross_b.key
cp cross_a_boot.csr cross_a.csr
cp cross_b_boot.csr cross_b.csr
sign cross_b_boot cross_a v3_cross
sign cross_a_boot cross_b v3_cross

csr request "/CN=Test Request/O=Yrk Test"
mv request.csr request.pem
q openssl req -in request.pem -outform DER -out request.der

csr signer "/CN=Test Signer/O=Yrk Test"
sign inter signer v3_signer -startdate 20200101000000Z -enddate 20491231235959Z
csr signer_expired "/CN=Test Signer Expired/O=Yrk Test"
sign inter signer_expired v3_signer -startdate 20010101000000Z -enddate 20020101000000Z

rm -f last.err
