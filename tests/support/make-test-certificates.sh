#!/bin/sh
# Makes the certificates of the TLS tests with the openssl command line in FOLDER (created
# when missing): a test CA (ca.pem, ca.key) and server certificates with their keys,
#
#   trusted       for 127.0.0.1 (IP address), signed by the CA
#   self-signed   for 127.0.0.1, signed by itself
#   other-host    for the host name "other.example", signed by the CA
#   expired       for 127.0.0.1, signed by the CA, ended in 2020
#
# as NAME.pem and NAME.key. The Linux tests run it at test time; the Windows tests read
# what it made on the build machine before they started.
#
#   tests/support/make-test-certificates.sh FOLDER
set -eu
[ $# -eq 1 ] || {
    echo "usage: $0 FOLDER" >&2
    exit 2
}
mkdir -p "$1"
cd "$1"
rm -f ./*.pem ./*.key ./*.csr ./*.ext index.txt* serial*

# Small elliptic-curve keys: made in an instant, unlike RSA ones.
new_key() {
    openssl req "$@" -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes 2>&1
}

# "openssl ca" is used only because it, unlike "openssl x509", can give a certificate a
# validity that lies wholly in the past.
cat >ca.cnf <<'EOF'
[ca]
default_ca = test_ca
[test_ca]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
EOF
: >index.txt
echo 01 >serial

new_key -x509 -keyout ca.key -out ca.pem -days 30 -subj "/CN=Veltora Test CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign

# signed_by_ca NAME COMMON_NAME SUBJECT_ALT_NAME VALIDITY...
signed_by_ca() {
    name=$1 common_name=$2 alt_name=$3
    shift 3
    new_key -new -keyout "$name.key" -out "$name.csr" -subj "/CN=$common_name"
    printf 'subjectAltName = %s\nbasicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n' \
        "$alt_name" >"$name.ext"
    openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in "$name.csr" \
        -out "$name.pem" -notext -extfile "$name.ext" "$@" 2>&1
}

signed_by_ca trusted 127.0.0.1 IP:127.0.0.1 -days 30
signed_by_ca other-host other.example DNS:other.example -days 30
signed_by_ca expired 127.0.0.1 IP:127.0.0.1 -startdate 20200101000000Z -enddate 20200102000000Z
new_key -x509 -keyout self-signed.key -out self-signed.pem -days 30 -subj /CN=127.0.0.1 \
    -addext subjectAltName=IP:127.0.0.1
