#!/bin/sh
# make-test-certificates.sh FOLDER: a throw-away certificate authority and
# the server certificates of the HTTPS tests, made afresh in FOLDER (RSA
# keys: an ECDSA signature's length varies from one run to the next, and
# one run's good certificate was refused by Wine's 32-bit build while the
# next run's were taken; an RSA signature is of one length every time):
#   ca.pem                 the authority a test trusts (SSL_CERT_FILE)
#   good.pem, good.key     127.0.0.1 and localhost, valid from a day ago
#                          for a year
#   expired.pem, .key      the same names, valid 2020-01-01 to 2021-01-01
#   wrong-name.pem, .key   other.invalid only, valid now
#   proxied.pem, .key      time.example.test only (a name only a proxy
#                          reaches), valid now
#   self.pem, self.key     127.0.0.1, signed by itself (no authority)
# Nothing here is trusted anywhere but by the test that sets SSL_CERT_FILE.
set -eu
dir=$1
mkdir -p "$dir"
cd "$dir"
key() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null; }

# openssl ca gives each certificate the dates asked for; the authority's own
# validity covers every one of them.
mkdir -p ca.db
: >ca.db/index.txt
echo 1000 >ca.db/serial
cat >ca.cnf <<CNF
[ca]
default_ca = test
[test]
dir = ca.db
database = ca.db/index.txt
serial = ca.db/serial
new_certs_dir = ca.db
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = copy
[anything]
commonName = supplied
[authority]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
CNF

key ca.key
openssl req -new -key ca.key -out ca.csr -subj "/CN=Veltrane test authority" 2>/dev/null
openssl ca -batch -selfsign -config ca.cnf -keyfile ca.key -in ca.csr -out ca.pem -extensions authority \
  -startdate 20190101000000Z -enddate 20391231000000Z -notext 2>/dev/null

# server NAME START END SAN: NAME.pem and NAME.key
server() {
  key "$1.key"
  openssl req -new -key "$1.key" -out "$1.csr" -subj "/CN=$1" -addext "subjectAltName=$4" \
    -addext "extendedKeyUsage=serverAuth" 2>/dev/null
  openssl ca -batch -config ca.cnf -in "$1.csr" -out "$1.pem" -startdate "$2" -enddate "$3" -notext 2>/dev/null
}
now=$(date -u +%s)
stamp() { date -u -d "@$1" +%Y%m%d%H%M%SZ; }
server good "$(stamp $((now - 86400)))" "$(stamp $((now + 365 * 86400)))" "IP:127.0.0.1,DNS:localhost"
server expired 20200101000000Z 20210101000000Z "IP:127.0.0.1,DNS:localhost"
server wrong-name "$(stamp $((now - 86400)))" "$(stamp $((now + 365 * 86400)))" "DNS:other.invalid"
server proxied "$(stamp $((now - 86400)))" "$(stamp $((now + 365 * 86400)))" "DNS:time.example.test"
key self.key
openssl req -x509 -new -key self.key -out self.pem -days 30 -subj "/CN=self" \
  -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
