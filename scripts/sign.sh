#!/bin/sh
# Signs an executable in place with Authenticode, SHA-256, through osslsigncode:
#   sign.sh OSSLSIGNCODE EXE --certificate PKCS12_FILE [OPTIONS]
#   sign.sh OSSLSIGNCODE EXE --pkcs11-module MODULE --key PKCS11_URI
#           --certificate CERTIFICATE_FILE|PKCS11_URI [OPTIONS]
# The first form takes the key from a PKCS#12 file, the second from a PKCS#11 token or HSM, where
# it never leaves the device; the certificate is then a PEM or DER file, or an object in a token.
# OPTIONS:
#   --password-file FILE  the PKCS#12 password or the token's PIN; without it, the value of the
#                         DUNVELT_SIGNING_PASSWORD environment variable
#   --timestamp URL       an RFC 3161 time-stamping server; given more than once, the servers are
#                         tried in order until one answers
# The password never appears on a command line, where ps would show it: osslsigncode reads it
# from the file, or from a pipe. On any failure the executable is removed, so that an unsigned or
# half-signed file never passes for the build's output, and the next build links and signs it
# again.
set -uf
tool=$1 exe=$2
shift 2
signed="$exe.signing"
log="$exe.signing.log"

fail() {
  rm -f "$exe" "$signed" "$log"
  echo "Signing $exe failed: $*" >&2
  exit 1
}

certificate="" module="" key="" password_file="" servers=""
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || fail "$1 needs a value"
  case $1 in
  --certificate) certificate=$2 ;;
  --pkcs11-module) module=$2 ;;
  --key) key=$2 ;;
  --password-file) password_file=$2 ;;
  --timestamp) servers="$servers $2" ;;
  *) fail "unknown option $1" ;;
  esac
  shift 2
done

[ -n "$certificate" ] || fail "no certificate"
case $certificate in
pkcs11:*) [ -n "$module" ] || fail "certificate $certificate is in a token, but no PKCS#11 module was given" ;;
*) [ -f "$certificate" ] || fail "certificate $certificate not found" ;;
esac
if [ -n "$module" ]; then
  [ -f "$module" ] || fail "PKCS#11 module $module not found"
  case $key in pkcs11:*) ;; *) fail "the key must be a pkcs11: URI, not '$key'" ;; esac
  set -- -pkcs11module "$module" -key "$key"
  case $certificate in
  pkcs11:*) set -- "$@" -pkcs11cert "$certificate" ;;
  *) set -- "$@" -certs "$certificate" ;;
  esac
  secret="PIN"
else
  set -- -pkcs12 "$certificate"
  secret="password"
fi
# URLs hold no blanks, and globbing is off.
for server in $servers; do set -- "$@" -ts "$server"; done
set -- "$@" -h sha256 -n Dunvelt -in "$exe" -out "$signed"

# Some versions of osslsigncode refuse to write over a file, such as one an interrupted run left.
rm -f "$signed"
if [ -n "$password_file" ]; then
  [ -r "$password_file" ] || fail "password file $password_file not found"
  "$tool" sign "$@" -readpass "$password_file" >"$log" 2>&1
else
  [ -n "${DUNVELT_SIGNING_PASSWORD+set}" ] ||
    fail "no $secret: set DUNVELT_SIGNING_PASSWORD or DUNVELT_SIGNING_PASSWORD_FILE"
  printf '%s' "$DUNVELT_SIGNING_PASSWORD" | "$tool" sign "$@" -readpass /dev/stdin >"$log" 2>&1
fi
status=$?
[ $status -eq 0 ] && [ -f "$signed" ] && mv "$signed" "$exe" && rm -f "$log" && exit 0

# One message for each fault a user can mend, from what osslsigncode and the PKCS#11 engine said;
# a wrong PIN also makes the key look absent, so it is checked first.
said() { grep -q "$1" "$log"; }
said 'Wrong password' && fail "wrong password for $certificate"
said 'PIN incorrect' && fail "wrong PIN for the token that holds $key"
said 'PIN locked' && fail "the PIN of the token that holds $key is locked"
said "load 'pkcs11' engine" &&
  fail "OpenSSL's PKCS#11 engine is missing: install libengine-pkcs11-openssl"
said 'Unable to load module' && fail "PKCS#11 module $module cannot be loaded"
said 'No matching initialized token' && fail "no token in $module matches $key"
said 'private key was not found' && fail "no key in the token matches $key"
said 'certificate was not found' && fail "no certificate in the token matches $certificate"
said 'No certificate found' && fail "$certificate holds no certificate"
said 'key values mismatch' && fail "certificate $certificate does not belong to the key"
said 'RFC 3161 timestamping failed' &&
  fail "no time-stamping server gave a timestamp (tried:$servers)"
fail "osslsigncode could not sign with $certificate: $(grep -v -e '^$' -e '^Engine ' -e '^Connecting to ' "$log" | head -n 1)"
