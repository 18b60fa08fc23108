#!/bin/sh
# Signs an executable in place with Authenticode, SHA-256, through osslsigncode:
#   sign.sh OSSLSIGNCODE EXE --certificate PKCS12_FILE [OPTIONS]
#   sign.sh OSSLSIGNCODE EXE --pkcs11-module MODULE --key PKCS11_URI
#           --certificate CERTIFICATE_FILE|PKCS11_URI [OPTIONS]
#   sign.sh OSSLSIGNCODE EXE --signer COMMAND --certificate CERTIFICATE_FILE [OPTIONS]
#   sign.sh OSSLSIGNCODE --check-certificate OPTIONS...
# The first form takes the key from a PKCS#12 file, the second from a PKCS#11 token or HSM, where
# it never leaves the device; the certificate is then a PEM or DER file, or an object in a token.
# The third hands what is to be signed to a command that alone reaches the key (a cloud signing
# service's client, an HSM's tool): osslsigncode extract-data computes it, and the command is run
# as COMMAND DATA SIGNATURE, to write to SIGNATURE a DER PKCS#7 signature of DATA, made with the
# certificate (as `osslsigncode sign -in DATA -out SIGNATURE` makes one); osslsigncode then
# attaches it, adds the timestamp and verifies the result. The fourth only checks the certificate.
# OPTIONS:
#   --password-file FILE  the PKCS#12 password or the token's PIN; without it, the value of the
#                         DUNVELT_SIGNING_PASSWORD environment variable
#   --timestamp URL       an RFC 3161 time-stamping server; given more than once, the servers are
#                         tried in order until one answers
#   --ca-file FILE        with --signer: the certificates the signature's chain is verified
#                         against, instead of the system's (/etc/ssl/certs)
# A certificate that is not valid now is refused, and one that expires within 30 days warned of,
# with its date, before anything is signed. The password never appears on a command line, where
# ps would show it: osslsigncode reads it from the file, or from a pipe. On any failure the
# executable is removed, so that an unsigned or half-signed file never passes for the build's
# output, and the next build links and signs it again.
set -uf
tool=$1 exe=$2
shift 2
check_only=false
if [ "$exe" = --check-certificate ]; then
  check_only=true exe=""
fi
signed="$exe.signing"
log="$exe.signing.log"

fail() {
  if $check_only; then
    echo "Signing refused: $*" >&2
  else
    rm -f "$exe" "$signed" "$log" "$exe.data" "$exe.signature" "$exe.signed"
    echo "Signing $exe failed: $*" >&2
  fi
  exit 1
}

certificate="" module="" key="" password_file="" servers="" signer="" ca_file=""
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || fail "$1 needs a value"
  case $1 in
  --certificate) certificate=$2 ;;
  --pkcs11-module) module=$2 ;;
  --key) key=$2 ;;
  --password-file) password_file=$2 ;;
  --timestamp) servers="$servers $2" ;;
  --signer) signer=$2 ;;
  --ca-file) ca_file=$2 ;;
  *) fail "unknown option $1" ;;
  esac
  shift 2
done

[ -n "$certificate" ] || fail "no certificate"
case $certificate in
pkcs11:*) [ -n "$module" ] || fail "certificate $certificate is in a token, but no PKCS#11 module was given" ;;
*) [ -f "$certificate" ] || fail "certificate $certificate not found" ;;
esac
if [ -n "$signer" ]; then
  [ -z "$module" ] || fail "a signer command and a PKCS#11 module exclude each other"
  case $certificate in
  *.p12 | *.pfx | pkcs11:*) fail "with a signer command, the certificate is a PEM or DER file, not $certificate" ;;
  esac
  command -v "$signer" >/dev/null 2>&1 || fail "signer command $signer not found"
  [ -z "$ca_file" ] || [ -f "$ca_file" ] || fail "CA file $ca_file not found"
fi

# The signing certificate as PEM on standard output, where it can be read here: from a PEM or DER
# file, or from a PKCS#12 file with its password. One in a token is not read.
certificate_pem() {
  case $certificate in
  pkcs11:*) return 1 ;;
  esac
  if [ -z "$module" ] && [ -z "$signer" ]; then
    if [ -n "$password_file" ]; then
      openssl pkcs12 -in "$certificate" -nokeys -clcerts -passin "file:$password_file" 2>/dev/null
    else
      openssl pkcs12 -in "$certificate" -nokeys -clcerts -passin env:DUNVELT_SIGNING_PASSWORD \
        2>/dev/null
    fi | openssl x509 2>/dev/null
    return
  fi
  openssl x509 -in "$certificate" 2>/dev/null || openssl x509 -inform DER -in "$certificate" 2>/dev/null
}

# Refuses a certificate that is not valid now, and warns of one that expires within 30 days.
check_certificate() {
  pem=$(certificate_pem) || return 0
  [ -n "$pem" ] || fail "cannot read the certificate in $certificate (a wrong password?)"
  from=$(printf '%s\n' "$pem" | openssl x509 -noout -startdate | sed 's/^notBefore=//')
  until=$(printf '%s\n' "$pem" | openssl x509 -noout -enddate | sed 's/^notAfter=//')
  if ! from_s=$(date -u -d "$from" +%s) || ! until_s=$(date -u -d "$until" +%s); then
    fail "cannot read the dates of the certificate in $certificate"
  fi
  now=$(date -u +%s)
  until_text=$(date -u -d "@$until_s" '+%Y-%m-%d %H:%M UTC')
  [ "$now" -ge "$from_s" ] ||
    fail "the certificate in $certificate is not valid yet: from $(date -u -d "@$from_s" '+%Y-%m-%d %H:%M UTC')"
  [ "$now" -lt "$until_s" ] || fail "the certificate in $certificate expired on $until_text"
  left=$(((until_s - now) / 86400))
  [ "$left" -ge 30 ] && return
  case $left in
  0) left="less than a day" ;;
  1) left="1 day" ;;
  *) left="$left days" ;;
  esac
  echo "Warning: the certificate in $certificate expires on $until_text, in $left: renew it; signatures with a timestamp stay valid after." >&2
}
# A run that signs many files checks once, first (sign-install.sh).
[ -n "${DUNVELT_SIGNING_CERTIFICATE_CHECKED:-}" ] || check_certificate
$check_only && exit 0

# The signer command's route: it sees what is to be signed, never the executable, and the key
# never reaches the computer that builds.
if [ -n "$signer" ]; then
  data="$exe.data" signature="$exe.signature" attached="$exe.signed"
  # extract-data came after the 2.5 of Debian 12; its backports carry 2.9.
  "$tool" --help 2>&1 | grep -q extract-data ||
    fail "signing through a signer command needs an osslsigncode with extract-data, and this one ($("$tool" --version 2>&1 | head -n 1 | sed 's/,.*//')) has none: install a later one, such as the 2.9 of bookworm-backports"
  rm -f "$data" "$signature" "$attached" "$signed"
  "$tool" extract-data -h sha256 -in "$exe" -out "$data" >"$log" 2>&1 ||
    fail "osslsigncode cannot compute what is to be signed: $(grep -v '^$' "$log" | head -n 1)"
  # A cloud service may take its time; the bound only stops a signer that hangs.
  status=0
  timeout 600 "$signer" "$data" "$signature" </dev/null >"$log" 2>&1 || status=$?
  [ "$status" -eq 0 ] ||
    fail "the signer command $signer failed (exit $status): $(grep -v '^$' "$log" | head -n 1)"
  [ -s "$signature" ] || fail "the signer command $signer wrote no signature"
  verify_with=""
  [ -z "$ca_file" ] || verify_with="-CAfile $ca_file -TSA-CAfile $ca_file"
  if ! "$tool" attach-signature -sigin "$signature" ${ca_file:+-CAfile "$ca_file"} -h sha256 \
    -in "$exe" -out "$attached" >"$log" 2>&1; then
    said=$(grep -m 1 -e 'Error:' -e 'mismatch' -e 'Unable' -e 'Failed' "$log" | sed 's/^[[:space:]]*//')
    fail "the signature from $signer does not verify for this file (${said:-osslsigncode says nothing more})"
  fi
  if [ -n "$servers" ]; then
    set --
    for server in $servers; do set -- "$@" -ts "$server"; done
    "$tool" add "$@" -h sha256 -in "$attached" -out "$signed" >"$log" 2>&1 ||
      fail "no time-stamping server gave a timestamp (tried:$servers)"
  else
    mv "$attached" "$signed"
  fi
  # shellcheck disable=SC2086 # a CA file's path holds no blanks, as the build's options are given
  "$tool" verify $verify_with -in "$signed" >"$log" 2>&1 ||
    fail "the signed file does not verify: $(grep -m 1 -e 'Error' -e 'MISMATCH' -e 'failed' "$log" | sed 's/^[[:space:]]*//')"
  # The signature must be the certificate's, which was checked above.
  serial=$(certificate_pem | openssl x509 -noout -serial | sed 's/^serial=//')
  grep -q "Serial : $serial\$" "$log" ||
    fail "the signer command signed with another certificate than $certificate"
  [ -z "$servers" ] || grep -q '^Timestamp Server Signature verification: ok' "$log" ||
    fail "the timestamp on the signed file does not verify"
  mv "$signed" "$exe" && rm -f "$log" "$data" "$signature" "$attached" && exit 0
  fail "cannot replace $exe with its signed copy"
fi
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
