#!/bin/sh
# Signs an executable in place with Authenticode, SHA-256:
#   sign.sh OSSLSIGNCODE EXE CERTIFICATE.p12 [PASSWORD_FILE]
# Without a password file the password comes from DUNVELT_SIGNING_PASSWORD. On any failure the
# executable is removed, so that an unsigned or half-signed file never passes for the build's
# output, and the next build links and signs it again.
set -u
tool=$1 exe=$2 certificate=$3 password_file=${4:-}
signed="$exe.signing"
log="$exe.signing.log"

fail() {
  rm -f "$exe" "$signed" "$log"
  echo "Signing $exe failed: $*" >&2
  exit 1
}

[ -f "$certificate" ] || fail "certificate $certificate not found"
if [ -n "$password_file" ]; then
  [ -r "$password_file" ] || fail "password file $password_file not found"
  "$tool" sign -pkcs12 "$certificate" -readpass "$password_file" -h sha256 -n Dunvelt \
    -in "$exe" -out "$signed" >"$log" 2>&1
else
  [ -n "${DUNVELT_SIGNING_PASSWORD+set}" ] ||
    fail "no password: set DUNVELT_SIGNING_PASSWORD or DUNVELT_SIGNING_PASSWORD_FILE"
  printf '%s' "$DUNVELT_SIGNING_PASSWORD" |
    "$tool" sign -pkcs12 "$certificate" -readpass /dev/stdin -h sha256 -n Dunvelt \
      -in "$exe" -out "$signed" >"$log" 2>&1
fi
status=$?
if [ $status -ne 0 ]; then
  grep -q 'Wrong password' "$log" && fail "wrong password for $certificate"
  fail "osslsigncode could not use $certificate: $(grep -v '^$' "$log" | head -n 1)"
fi
mv "$signed" "$exe" && rm -f "$log"
