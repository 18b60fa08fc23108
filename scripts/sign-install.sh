#!/bin/sh
# Signs every Windows program and DLL of an install folder, the Java runtime's included, with
# Authenticode, SHA-256, through sign.sh and with its options:
#   sign-install.sh FOLDER --certificate PKCS12_FILE [OPTIONS]
#   sign-install.sh FOLDER --pkcs11-module MODULE --key PKCS11_URI
#                   --certificate CERTIFICATE_FILE|PKCS11_URI [OPTIONS]
#   sign-install.sh FOLDER --signer COMMAND --certificate CERTIFICATE_FILE [OPTIONS]
# OPTIONS: --password-file FILE, --timestamp URL (repeated), --ca-file FILE, as for sign.sh. The
# certificate is checked once, before anything: one that is not valid now is refused, and one
# that expires within 30 days warned of.
#
# Smart App Control blocks every program and DLL the loader maps that carries no valid signature,
# and a jlink runtime ships unsigned ones. A file counts as a program by its content, whatever its
# name: "MZ", and "PE\0\0" at the offset that the DOS header's e_lfanew holds. One that already
# carries a signature whose digest matches its bytes is left alone, whoever signed it: the chain
# is not judged, since only the user's Windows knows the roots it trusts. Any other program is
# signed, one whose signature no longer matches its bytes as well.
#
# Every file is signed in a copy first, in a folder of the run's own inside FOLDER. Only when all
# of them are signed do the copies replace the originals, each keeping its mode (a jlink image has
# read-only files). A failure leaves FOLDER as it was, and names the file and the reason.
set -uf
here=$(dirname "$0")
tool=osslsigncode

usage() {
  echo "usage: sign-install.sh FOLDER --certificate FILE|URI [--pkcs11-module MODULE --key URI |" \
    "--signer COMMAND] [--password-file FILE] [--timestamp URL]... [--ca-file FILE]" >&2
  exit 2
}
[ $# -ge 1 ] || usage
folder=${1%/}
shift
[ -n "$folder" ] || folder=/

# The options go to sign.sh as they are; only their form is checked here, and which certificate
# signs, to name it.
certificate=""
check_options() {
  while [ $# -gt 0 ]; do
    case $1 in
    --certificate | --pkcs11-module | --key | --password-file | --timestamp | --signer | --ca-file) ;;
    *) echo "sign-install.sh: unknown option $1" >&2 && usage ;;
    esac
    [ $# -ge 2 ] || { echo "sign-install.sh: $1 needs a value" >&2 && usage; }
    [ "$1" = --certificate ] && certificate=$2
    shift 2
  done
}
check_options "$@"
[ -n "$certificate" ] || { echo "sign-install.sh: no --certificate given" >&2 && usage; }
[ -d "$folder" ] || { echo "sign-install.sh: $folder is not a folder" >&2 && exit 2; }
command -v "$tool" >/dev/null || {
  echo "sign-install.sh: osslsigncode not found: install the osslsigncode package" >&2
  exit 2
}

work="" committed=0 finished=false kept=false
fail() {
  echo "$*; nothing in $folder was changed." >&2
  exit 1
}

# The certificate, once and before anything is touched; its warning, if any, is passed on.
checked=$(sh "$here/sign.sh" "$tool" --check-certificate "$@" 2>&1 </dev/null) ||
  fail "${checked#Signing refused: }"
[ -z "$checked" ] || echo "$checked" >&2
export DUNVELT_SIGNING_CERTIFICATE_CHECKED=1
# Puts back the originals of the first $committed files; one that cannot be put back is kept,
# and named.
roll_back() {
  k=0
  while [ "$k" -lt "$committed" ] && IFS= read -r original; do
    k=$((k + 1))
    mv -f "$work/$k.original" "$original" && continue
    echo "Could not put back $original: its original is $work/$k.original" >&2
    kept=true
  done <"$work/to-sign"
}
finish() {
  [ -n "$work" ] || return
  [ "$committed" -eq 0 ] || $finished || roll_back
  $kept || rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

work=$(mktemp -d "$folder/.dunvelt-signing.XXXXXX" 2>/dev/null) ||
  { work="" && fail "Cannot write in $folder"; }
# Names with a line break would split in the lists below; no runtime has one.
[ -z "$(find -H "$folder" -name '*
*' | head -n 1)" ] || fail "A file name in $folder holds a line break, which cannot be signed here"
# Earlier runs' folders, which only an interrupted run leaves behind, hold no part of the install.
find -H "$folder" -name '.dunvelt-signing.*' -prune -o -type f -print | LC_ALL=C sort >"$work/files"

# Whether FILE is a Windows program (PE image) by its content: is_pe FILE
is_pe() {
  file=$1
  # The DOS header's 64 bytes, "MZ" first; e_lfanew at 0x3c, little-endian. No globbing: set -f.
  # shellcheck disable=SC2046
  set -- $(od -An -tu1 -v -N64 "$file")
  [ $# -eq 64 ] && [ "$1" -eq 77 ] && [ "$2" -eq 90 ] || return 1
  shift 60
  offset=$(($1 + $2 * 256 + $3 * 65536 + $4 * 16777216))
  [ "$(od -An -tx1 -j "$offset" -N4 "$file" | tr -d ' \n')" = 50450000 ]
}

# Newer osslsigncode fetch revocation lists from the certificate's distribution points, which
# only the chain's judgement needs, and which would wait on a network that is not there.
verify_options=""
for option in -ignore-crl -ignore-timestamp; do
  "$tool" verify --help 2>&1 | grep -q -e "$option" && verify_options="$verify_options $option"
done
# What FILE's signature says, from osslsigncode verify: none, matches, mismatch or, with its
# reason, cannot tell: signature_of FILE
signature_of() {
  # shellcheck disable=SC2086
  timeout 120 "$tool" verify $verify_options -in "$1" >"$work/verify.log" 2>&1 </dev/null
  # Every signature, nested ones too, gives the digest it holds and the digest of the file now.
  awk '/^Current message digest/ { held[++c] = $NF }
       /^Calculated message digest/ { now[++n] = $(NF - ($NF ~ /MISMATCH/)) }
       /^No signature found/ { none = 1 }
       END {
         if (c == 0 && none) { print "none"; exit }
         if (c == 0 || n != c) { print "cannot tell"; exit }
         for (i = 1; i <= c; i++) if (held[i] != now[i]) { print "mismatch"; exit }
         print "matches"
       }' "$work/verify.log"
}

signature_algorithm() {
  openssl pkcs7 -inform DER -in "$1" -print 2>/dev/null |
    awk '/digest_enc_alg:/ { getline; print $2; exit }'
}

# The algorithm of the first signature made, which Smart App Control judges: it takes RSA only.
check_algorithm() {
  algorithm=""
  if "$tool" extract-signature -in "$1" -out "$work/signature" >/dev/null 2>&1; then
    algorithm=$(signature_algorithm "$work/signature")
    # Older osslsigncode writes the signature as the image holds it, behind the 8 bytes of its
    # certificate table entry's header.
    if [ -z "$algorithm" ]; then
      tail -c +9 "$work/signature" >"$work/signature.der"
      algorithm=$(signature_algorithm "$work/signature.der")
    fi
  fi
  [ -n "$algorithm" ] || fail "Cannot tell which algorithm $certificate signs with"
  case $algorithm in
  rsaEncryption | *WithRSAEncryption) ;;
  *) fail "Refused: the key of $certificate is not an RSA key (it signs with $algorithm), and" \
    "Smart App Control accepts RSA signatures only" ;;
  esac
}

signed=0 already=0 skipped=0 n=0
: >"$work/to-sign"
: >"$work/report"
while IFS= read -r path; do
  name=${path#"$folder"/}
  if ! is_pe "$path"; then
    lower=$(printf '%s' "$name" | tr '[:upper:]' '[:lower:]')
    case $lower in
    *.exe | *.dll | *.sys | *.ocx | *.cpl | *.scr | *.drv | *.efi)
      echo "skipped $name: not a Windows program" >>"$work/report"
      skipped=$((skipped + 1))
      ;;
    esac
    continue
  fi
  state=$(signature_of "$path")
  case $state in
  matches)
    already=$((already + 1))
    continue
    ;;
  "cannot tell")
    said=$(grep -v -e '^$' -e 'PE checksum' -e '^Warning:' -e '^Failed' -e ':error:' \
      "$work/verify.log" | head -n 1)
    fail "Cannot tell whether $name is signed: osslsigncode says \"${said:-nothing}\""
    ;;
  esac
  n=$((n + 1))
  staged="$work/$n"
  { cp "$path" "$staged" && chmod u+w "$staged"; } || fail "Cannot copy $name"
  if ! sh "$here/sign.sh" "$tool" "$staged" "$@" </dev/null 2>"$work/error"; then
    reason=$(cat "$work/error")
    fail "Signing $name failed: ${reason#"Signing $staged failed: "}"
  fi
  [ "$n" -gt 1 ] || check_algorithm "$staged"
  printf '%s\n' "$path" >>"$work/to-sign"
  if [ "$state" = mismatch ]; then
    echo "signed $name, whose old signature no longer matched it" >>"$work/report"
  else
    echo "signed $name" >>"$work/report"
  fi
  signed=$((signed + 1))
done <"$work/files"

# Every copy is signed: each replaces its original, which is kept until all are in place.
k=0
while IFS= read -r path; do
  k=$((k + 1))
  if chmod --reference="$path" "$work/$k" && { ln "$path" "$work/$k.original" 2>/dev/null ||
    cp -p "$path" "$work/$k.original"; } && mv -f "$work/$k" "$path"; then
    committed=$k
  else
    fail "Cannot replace $path with its signed copy"
  fi
done <"$work/to-sign"
finished=true

cat "$work/report"
files="files"
[ "$signed" -ne 1 ] || files="file"
echo "signed $signed $files, $already already signed, $skipped skipped"
