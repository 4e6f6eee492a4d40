#!/usr/bin/env bash
# Signing the release as a packager does (README, "Signing"), with a throwaway certificate:
# makes a test CA and a code-signing certificate issued by it, signs SETUP_EXE into
# WORK_DIR/setup.exe, checks that osslsigncode verifies the signature against the test CA
# (and refuses it against another CA), and that the signed file still passes the binary
# check. In the win64 build the signed copy is then run under Wine (tests/e2e).
#
#   sign_test.sh SETUP_EXE WORK_DIR PYTHON CHECK_BINARY_PY [CHECK_OPTIONS...]
#
# The certificates are made anew on every run and never leave WORK_DIR.
set -euo pipefail
exe=$1 work=$2 python=$3 check=$4
shift 4

fail() {
  echo "sign_test: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
cd "$work"

# ca NAME: a self-signed CA certificate NAME.pem and its key NAME.key.
ca() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway test CA $1" \
    -keyout "$1.key" -out "$1.pem" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    2>/dev/null
}
ca test-ca
ca other-ca
openssl req -newkey rsa:2048 -nodes -subj "/CN=Throwaway test packager" \
  -keyout signer.key -out signer.csr 2>/dev/null
printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
  extendedKeyUsage=codeSigning >signer.ext
openssl x509 -req -in signer.csr -CA test-ca.pem -CAkey test-ca.key -CAcreateserial \
  -days 1 -extfile signer.ext -out signer.pem 2>/dev/null

osslsigncode sign -certs signer.pem -key signer.key -h sha256 -n "Setup program" \
  -in "$exe" -out setup.exe >sign.log 2>&1 || { cat sign.log >&2; fail "signing failed"; }
osslsigncode verify -CAfile test-ca.pem -in setup.exe >verify.log 2>&1 ||
  { cat verify.log >&2; fail "the signature does not verify against the test CA"; }
if osslsigncode verify -CAfile other-ca.pem -in setup.exe >other.log 2>&1; then
  fail "the signature verifies against a CA that did not issue the certificate"
fi
"$python" "$check" "$@" setup.exe || fail "the signed setup.exe fails the binary check"
echo "sign_test: signed, verified against the test CA, binary check passed"
