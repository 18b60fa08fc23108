#!/bin/sh
# Release checks that need second builds of the launcher:
#   release_tests.sh CASE SOURCE BUILD SCRATCH
# where CASE is reproducible, signing, signing-token, timestamp, sign-install, external-signer,
# reprotest, bom, install-bom, toolchain or install.
set -eu
case_name=$1 source=$2 build=$3 scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch"
failures=0
check() {  # check DESCRIPTION COMMAND...
  description=$1
  shift
  if "$@"; then echo "ok: $description"; else echo "FAILED: $description"; failures=$((failures + 1)); fi
}

# Builds only the launcher, or the targets in $targets, in a build folder of its own:
#   build_launcher FOLDER [CMAKE ARGS...]
build_launcher() {
  folder=$1
  shift
  cmake -S "$source" -B "$folder" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF "$@" >"$folder.log" 2>&1 &&
    cmake --build "$folder" --target "${targets:-Dunvelt}" >>"$folder.log" 2>&1
}

# The bytes of the launcher as linked: a packager's build may have signed it.
unsigned_copy() {
  if osslsigncode remove-signature -in "$1" -out "$2" >/dev/null 2>&1; then :; else cp "$1" "$2"; fi
}

digest() { sha256sum "$1" | cut -d' ' -f1; }

# For the checks that expect a failure: fails COMMAND...
fails() { ! "$@"; }

# A signing build that must fail: with one message, which names the fault, and with no executable
# left behind. The build happens in $scratch/failing:
#   fails_to_sign DESCRIPTION MESSAGE BUILD_COMMAND...
fails_to_sign() {
  description=$1 message=$2
  shift 2
  check "$description fails the build" fails "$@"
  check "... with one message: $message" test "$(grep -c "$message" "$scratch/failing.log")" -eq 1
  # The link's map, Dunvelt.exe.map, is no executable.
  check "... and leaves no executable" \
    test -z "$(find "$scratch/failing" -maxdepth 1 -name 'Dunvelt.exe*' ! -name '*.map')"
}

# osslsigncode verify against the test CA, which issued the signer's and the time-stamping
# authority's certificates: verify OPTIONS...
verify() { osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem "$@" >/dev/null 2>&1; }

# Whether the signed image, its signature removed, is the unsigned one: strips_to UNSIGNED SIGNED
strips_to() {
  rm -f stripped.exe
  osslsigncode remove-signature -in "$2" -out stripped.exe >/dev/null 2>&1 && cmp -s "$1" stripped.exe
}

# A throwaway certificate NAME.pem for USAGE (an extended key usage), issued by the test CA, with
# its key, RSA or, with ec, ECDSA on P-256, in NAME-key.pem: issue NAME SUBJECT DAYS USAGE [ec]
issue() {
  printf '%s\n' basicConstraints=critical,CA:FALSE keyUsage=critical,digitalSignature \
    "extendedKeyUsage=critical,$4" >"$1.extensions"
  if [ "${5:-}" = ec ]; then
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1-key.pem" 2>/dev/null
  else
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1-key.pem" 2>/dev/null
  fi
  openssl req -new -key "$1-key.pem" -out "$1.csr" -subj "/CN=$2" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days "$3" \
    -extfile "$1.extensions" -out "$1.pem" 2>/dev/null
}

# The test CA, and a code-signing certificate from it that expires in two days, with its key in
# signer-key.pem and with both in signer.p12, whose password is in the file password.
make_signer() {
  printf 'correct horse\n' >password
  printf 'wrong horse\n' >wrong-password
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca-key.pem -out ca.pem -days 365 \
    -subj "/CN=Dunvelt throwaway test CA" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign 2>/dev/null
  issue signer "Dunvelt throwaway test signer" 2 codeSigning
  openssl x509 -in signer.pem -outform DER -out signer.der
  openssl pkcs12 -export -inkey signer-key.pem -in signer.pem -out signer.p12 \
    -passout file:password
}

# A software token (SoftHSM2) in the scratch folder, found through SOFTHSM2_CONF, that holds the
# signer's key and certificate; its PIN is in the file pin.
module=/usr/lib/softhsm/libsofthsm2.so
token_key="pkcs11:token=Dunvelt%20test;object=signer;type=private"
token_certificate="pkcs11:token=Dunvelt%20test;object=signer;type=cert"
make_token() {
  printf '4242\n' >pin
  printf '0000\n' >wrong-pin
  mkdir tokens
  printf '%s\n' "directories.tokendir = $PWD/tokens" "objectstore.backend = file" \
    "log.level = ERROR" >softhsm2.conf
  export SOFTHSM2_CONF="$PWD/softhsm2.conf"
  softhsm2-util --init-token --free --label "Dunvelt test" --pin 4242 --so-pin 12345678 >/dev/null
  softhsm2-util --import signer-key.pem --token "Dunvelt test" --label signer --id 01 --pin 4242 \
    >/dev/null
  pkcs11-tool --module "$module" --token-label "Dunvelt test" --login --pin 4242 \
    --write-object signer.der --type cert --id 01 --label signer >/dev/null
}

# A time-stamping authority of the test's own on the loopback address, stopped when the test
# ends, with a certificate from the test CA; its URL in $server, and one where nothing answers
# in $unreachable.
start_authority() {
  issue tsa "Dunvelt throwaway test time-stamping authority" 365 timeStamping
  mkdir authority
  /usr/bin/python3 "$source/tests/release/timestamp_authority.py" "$scratch/authority" \
    "$scratch/tsa.pem" "$scratch/tsa-key.pem" 2>authority.log &
  authority=$!
  trap 'kill "$authority" 2>/dev/null' EXIT
  # Starting Python and binding take well under a second; the bound only stops a hung start.
  deadline=$(($(date +%s) + 60))
  until [ -s authority/port ]; do
    if ! kill -0 "$authority" 2>/dev/null || [ "$(date +%s)" -ge "$deadline" ]; then
      echo "The time-stamping authority did not start:"
      cat authority.log
      exit 1
    fi
    sleep 0.1
  done
  server="http://127.0.0.1:$(cat authority/port)/"
  unreachable="http://127.0.0.1:$(cat authority/closed-port)/"
}

# Builds the launcher signed with a key in a token:
#   token_build FOLDER MODULE KEY CERTIFICATE PIN_FILE [CMAKE ARGS...]
token_build() {
  folder=$1 token_module=$2 key=$3 certificate=$4 pin_file=$5
  shift 5
  build_launcher "$folder" -DDUNVELT_SIGNING_PKCS11_MODULE="$token_module" \
    -DDUNVELT_SIGNING_KEY="$key" -DDUNVELT_SIGNING_CERTIFICATE="$certificate" \
    -DDUNVELT_SIGNING_PASSWORD_FILE="$pin_file" "$@"
}

case $case_name in
reproducible)
  # Another folder, another time, the same sources: the same bytes, for the launcher and for the
  # verification kit that carries it.
  mkdir "$scratch/source"
  find "$source" -mindepth 1 -maxdepth 1 ! -name '.*' ! -name 'build*' \
    -exec cp -R {} "$scratch/source/" ';'
  source="$scratch/source"
  targets=verify-kit build_launcher "$scratch/build" -DBUILD_TESTING=ON ||
    { cat "$scratch/build.log"; exit 1; }
  unsigned_copy "$build/Dunvelt.exe" "$scratch/first.exe"
  echo "first build:  $(digest "$scratch/first.exe")"
  echo "second build: $(digest "$scratch/build/Dunvelt.exe")"
  check "both builds are bit-identical" cmp -s "$scratch/first.exe" "$scratch/build/Dunvelt.exe"
  echo "first kit:    $(digest "$build/Dunvelt-verify.zip")"
  echo "second kit:   $(digest "$scratch/build/Dunvelt-verify.zip")"
  check "both kits are bit-identical" \
    cmp -s "$build/Dunvelt-verify.zip" "$scratch/build/Dunvelt-verify.zip"
  ;;
signing)
  cd "$scratch"
  make_signer
  check "a build with a certificate succeeds" build_launcher "$scratch/signed" \
    -DDUNVELT_SIGNING_CERTIFICATE="$scratch/signer.p12" \
    -DDUNVELT_SIGNING_PASSWORD_FILE="$scratch/password"
  signed="$scratch/signed/Dunvelt.exe"
  check "the signature verifies against the test CA" verify -in "$signed"
  unsigned_copy "$build/Dunvelt.exe" unsigned.exe
  check "removing the signature gives back the unsigned bytes" strips_to unsigned.exe "$signed"

  # The signed launcher still does its job: the launch test, run against it.
  mkdir -p "$scratch/signed/tests/wine"
  cp "$build/tests/wine/launch-tests.exe" "$build/tests/wine/java-standin.exe" \
    "$scratch/signed/tests/wine/"
  check "the signed launcher passes the launch test" "$source/scripts/wine-route.sh" run "$build" \
    wine "$scratch/signed/tests/wine/launch-tests.exe" arguments

  cp unsigned.exe from-environment.exe
  # As an interrupted signing leaves it: osslsigncode 2.5 will not write over it.
  echo half-written >from-environment.exe.signing
  check "the password can come from the environment" env DUNVELT_SIGNING_PASSWORD="correct horse" \
    "$source/scripts/sign.sh" osslsigncode from-environment.exe --certificate signer.p12
  check "... and that signature verifies too, over what an interrupted signing left" \
    verify -in from-environment.exe

  fails_to_sign "a wrong password" "failed: wrong password" \
    build_launcher "$scratch/failing" -DDUNVELT_SIGNING_CERTIFICATE="$scratch/signer.p12" \
    -DDUNVELT_SIGNING_PASSWORD_FILE="$scratch/wrong-password"
  fails_to_sign "a missing certificate" "Signing certificate not found" \
    build_launcher "$scratch/failing" -DDUNVELT_SIGNING_CERTIFICATE="$scratch/none.p12"
  ;;
signing-token)
  cd "$scratch"
  make_signer
  make_token
  check "a build with the key and the certificate in a token succeeds" \
    token_build "$scratch/signed" "$module" "$token_key" "$token_certificate" "$scratch/pin"
  signed="$scratch/signed/Dunvelt.exe"
  check "the signature verifies against the test CA" verify -in "$signed"
  unsigned_copy "$build/Dunvelt.exe" unsigned.exe
  check "removing the signature gives back the unsigned bytes" strips_to unsigned.exe "$signed"

  cp unsigned.exe from-environment.exe
  check "the certificate can be a file, and the PIN can come from the environment" \
    env DUNVELT_SIGNING_PASSWORD=4242 "$source/scripts/sign.sh" osslsigncode \
    from-environment.exe --pkcs11-module "$module" --key "$token_key" --certificate signer.der
  check "... and that signature verifies too" verify -in from-environment.exe

  fails_to_sign "a wrong PIN" "failed: wrong PIN" \
    token_build "$scratch/failing" "$module" "$token_key" "$token_certificate" "$scratch/wrong-pin"
  fails_to_sign "a key that is not in the token" "failed: no key in the token matches" \
    token_build "$scratch/failing" "$module" "pkcs11:token=Dunvelt%20test;object=none;type=private" \
    "$token_certificate" "$scratch/pin"
  fails_to_sign "a missing PKCS#11 module" "PKCS#11 module not found" \
    token_build "$scratch/failing" "$scratch/none.so" "$token_key" "$token_certificate" "$scratch/pin"
  fails_to_sign "a PKCS#11 module that cannot be loaded" "failed: PKCS#11 module .* cannot be loaded" \
    token_build "$scratch/failing" "$scratch/pin" "$token_key" "$token_certificate" "$scratch/pin"
  ;;
timestamp)
  cd "$scratch"
  make_signer
  make_token
  start_authority

  check "a build with a timestamp succeeds when the first server cannot be reached" \
    token_build "$scratch/stamped" "$module" "$token_key" "$token_certificate" "$scratch/pin" \
    -DDUNVELT_SIGNING_TIMESTAMP_URL="$unreachable;$server"
  stamped="$scratch/stamped/Dunvelt.exe"
  osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem -in "$stamped" >verify.txt 2>&1
  check "the signature verifies" grep -q '^Signature verification: ok' verify.txt
  check "... and carries the server's timestamp" \
    grep -q '^Timestamp Server Signature verification: ok' verify.txt
  # The certificate is valid for two days; a month later only the timestamp vouches for the time
  # of signing.
  later=$(($(date +%s) + 30 * 86400))
  check "... and still verifies after the certificate has expired" \
    verify -time "$later" -in "$stamped"
  unsigned_copy "$build/Dunvelt.exe" unsigned.exe
  check "removing the signature gives back the unsigned bytes" strips_to unsigned.exe "$stamped"

  cp unsigned.exe untimestamped.exe
  check "signing without a timestamp succeeds" "$source/scripts/sign.sh" osslsigncode \
    untimestamped.exe --pkcs11-module "$module" --key "$token_key" --certificate signer.pem \
    --password-file pin
  check "... and that signature verifies today" verify -in untimestamped.exe
  check "... but not after the certificate has expired" \
    fails verify -time "$later" -in untimestamped.exe

  fails_to_sign "time-stamping servers that cannot be reached" \
    "failed: no time-stamping server gave a timestamp" \
    token_build "$scratch/failing" "$module" "$token_key" "$token_certificate" "$scratch/pin" \
    -DDUNVELT_SIGNING_TIMESTAMP_URL="$unreachable"
  ;;
sign-install)
  cd "$scratch"
  make_signer
  make_token
  start_authority
  # Signs the folder runtime, with the options given, or with the key in the token and
  # timestamps: sign_install OPTIONS..., token_install PIN_FILE
  sign_install() { "$source/scripts/sign-install.sh" runtime "$@" >out.txt 2>&1; }
  token_install() {
    sign_install --pkcs11-module "$module" --key "$token_key" --certificate "$token_certificate" \
      --password-file "$1" --timestamp "$server"
  }
  # Modes and contents of everything in a folder, staging folders left behind included.
  listing() {
    (cd "$1" && find . -exec stat -c '%a %n' {} + && find . -type f -exec sha256sum {} +) |
      LC_ALL=C sort
  }
  # A runtime as jlink makes it: programs and DLLs, 32- and 64-bit, one of them read-only, one a
  # program without a program's name, one signed by its vendor; files with a program's name that
  # are none, and files of the runtime's own.
  mkdir -p runtime/bin/server runtime/lib
  unsigned_copy "$build/Dunvelt.exe" runtime/Dunvelt.exe
  cp "$build/tests/wine/java-standin.exe" runtime/bin/java.exe
  cp "$build/tests/wine/java-standin-x64.exe" runtime/bin/server/jvm.dll
  cp "$build/tests/wine/Dunvelt-shown.exe" runtime/lib/jspawnhelper
  cp "$build/tests/wine/java-standin.exe" runtime/bin/vendor.dll
  "$source/scripts/sign.sh" osslsigncode runtime/bin/vendor.dll --certificate signer.p12 \
    --password-file password
  cp runtime/bin/vendor.dll vendor.dll
  # A signed file changed after its signing, which Windows refuses.
  cp vendor.dll runtime/bin/changed.dll
  printf X | dd of=runtime/bin/changed.dll bs=1 seek=1000 conv=notrunc 2>/dev/null
  printf 'not a program\n' >runtime/bin/fake.dll
  printf 'MZ, and nothing after\n' >runtime/bin/stub.EXE
  printf 'java.base\n' >runtime/lib/modules
  chmod a-w runtime/bin/java.exe
  cp -Rp runtime unsigned
  listing runtime >before.txt

  check "signing an install folder succeeds" token_install pin
  printf '%s\n' "signed Dunvelt.exe" \
    "signed bin/changed.dll, whose old signature no longer matched it" \
    "skipped bin/fake.dll: not a Windows program" "signed bin/java.exe" \
    "signed bin/server/jvm.dll" "skipped bin/stub.EXE: not a Windows program" \
    "signed lib/jspawnhelper" "signed 5 files, 1 already signed, 2 skipped" >expected.txt
  check "... and names each file it signed or skipped, and counts them" diff expected.txt out.txt
  for file in Dunvelt.exe bin/changed.dll bin/java.exe bin/server/jvm.dll lib/jspawnhelper; do
    osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem -in "runtime/$file" >verify.txt 2>&1
    check "... $file verifies against the test CA" grep -q '^Signature verification: ok' verify.txt
    check "... with the server's timestamp" \
      grep -q '^Timestamp Server Signature verification: ok' verify.txt
  done
  check "... removing the signature gives back the unsigned bytes" \
    strips_to unsigned/bin/server/jvm.dll runtime/bin/server/jvm.dll
  check "... the file signed before is left byte-identical" cmp -s vendor.dll runtime/bin/vendor.dll
  for file in bin/fake.dll bin/stub.EXE lib/modules; do
    check "... $file, no program, is left byte-identical" cmp -s "unsigned/$file" "runtime/$file"
  done
  check "... the read-only file stays read-only" test "$(stat -c %a runtime/bin/java.exe)" = 555
  check "... and nothing is left behind" \
    test "$(find runtime -name '.dunvelt-signing*' | wc -l)" -eq 0
  listing runtime >signed.txt
  check "signing it again signs nothing" token_install pin
  check "... says so" grep -qx "signed 0 files, 6 already signed, 2 skipped" out.txt
  listing runtime >again.txt
  check "... and changes nothing" cmp -s signed.txt again.txt

  # Each failure stops the run, with one message that names the fault, and leaves every file as
  # it was: refuses DESCRIPTION MESSAGE COMMAND...
  refuses() {
    description=$1 message=$2
    shift 2
    rm -rf runtime
    cp -Rp unsigned runtime
    check "$description fails" fails "$@"
    check "... with one message: $message" test "$(grep -c "$message" out.txt)" -eq 1
    listing runtime >after.txt
    check "... and leaves the folder as it was" cmp -s before.txt after.txt
  }
  refuses "a wrong PIN" "Signing Dunvelt.exe failed: wrong PIN for the token" \
    token_install wrong-pin
  # After three files are signed in their copies.
  { printf 'MZ'; head -c 58 /dev/zero; printf '\100\000\000\000PE\000\000'; } >unsigned/lib/zz.dll
  listing unsigned >before.txt
  refuses "a broken program late in the folder" "Cannot tell whether lib/zz.dll is signed" \
    token_install pin
  rm unsigned/lib/zz.dll
  listing unsigned >before.txt
  issue ec-signer "Dunvelt throwaway test ECDSA signer" 2 codeSigning ec
  openssl pkcs12 -export -inkey ec-signer-key.pem -in ec-signer.pem -out ec-signer.p12 \
    -passout file:password
  refuses "a certificate whose key is not RSA" "Smart App Control accepts RSA signatures only" \
    sign_install --certificate ec-signer.p12 --password-file password
  ;;
external-signer)
  # Signing through a command that alone holds the key, as a cloud signing service's client
  # does: one file, the launcher's build and an install folder.
  cd "$scratch"
  make_signer
  start_authority
  mkdir keyholder
  mv signer-key.pem keyholder/
  rm signer.p12
  # write_signer NAME [CERTIFICATE KEY]: a signer command that keeps what it was given in
  # NAME.seen and counts its calls in NAME.calls.
  write_signer() {
    printf '%s\n' '#!/bin/sh' "cp \"\$1\" '$scratch/$1.seen'; echo called >>'$scratch/$1.calls'" \
      "exec osslsigncode sign -certs '$scratch/${2:-signer.pem}' -key '$scratch/${3:-keyholder/signer-key.pem}' -h sha256 -in \"\$1\" -out \"\$2\" >/dev/null" \
      >"$1"
    chmod +x "$1"
  }
  write_signer signer
  external="--signer $scratch/signer --certificate signer.pem --ca-file ca.pem"
  unsigned_copy "$build/Dunvelt.exe" unsigned.exe
  cp unsigned.exe one.exe
  if ! osslsigncode --help 2>&1 | grep -q extract-data; then
    # Debian 12's own osslsigncode cannot compute what is to be signed: the route says so, and
    # changes nothing.
    # shellcheck disable=SC2086 # the options hold no blanks
    check "an osslsigncode without extract-data is refused" fails \
      "$source/scripts/sign.sh" osslsigncode one.exe $external --timestamp "$server" 2>refused.txt
    check "... saying what to install" grep -q "needs an osslsigncode with extract-data" refused.txt
    check "... before it computed anything" test ! -e one.exe.data
    echo "skipped: the rest of this case needs a later osslsigncode than" \
      "$(osslsigncode --version 2>&1 | head -n 1 | sed 's/,.*//')"
    echo "$case_name: $failures failed"
    [ "$failures" -eq 0 ]
    exit
  fi
  # shellcheck disable=SC2086 # the options hold no blanks
  check "signing a file through the signer command succeeds" \
    "$source/scripts/sign.sh" osslsigncode one.exe $external --timestamp "$server" 2>warning.txt
  osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem -in one.exe >verify.txt 2>&1
  grep -E '^(Signature verification|Timestamp Server Signature verification|Number of verified)' verify.txt
  check "... and osslsigncode verify passes" grep -q '^Signature verification: ok' verify.txt
  check "... with the server's timestamp" \
    grep -q '^Timestamp Server Signature verification: ok' verify.txt
  check "... removing the signature gives back the unsigned bytes" strips_to unsigned.exe one.exe
  check "... the signer saw only what is to be signed, not the program" \
    test "$(od -An -tx1 -N1 signer.seen | tr -d ' ')" = 30 -a "$(stat -c %s signer.seen)" -lt 1000
  expires=$(date -u -d "$(openssl x509 -in signer.pem -noout -enddate | sed 's/^notAfter=//')" \
    '+%Y-%m-%d %H:%M UTC')
  check "... and a certificate that expires within 30 days is warned of, with its date" \
    grep -q "^Warning: the certificate in signer.pem expires on $expires, in \(2 days\|1 day\)" warning.txt
  cat warning.txt

  # With the kit, whose programs are signed too, where the build is given a key.
  kit_build() { targets=verify-kit build_launcher "$@"; }
  check "a build signed through the signer command succeeds" kit_build "$scratch/signed" \
    -DBUILD_TESTING=ON \
    -DDUNVELT_SIGNING_COMMAND="$scratch/signer" -DDUNVELT_SIGNING_CERTIFICATE="$scratch/signer.pem" \
    -DDUNVELT_SIGNING_CA_FILE="$scratch/ca.pem" -DDUNVELT_SIGNING_TIMESTAMP_URL="$server"
  check "... and its launcher verifies, timestamped" verify -in "$scratch/signed/Dunvelt.exe"
  mkdir kit
  unzip -q "$scratch/signed/Dunvelt-verify.zip" -d kit
  for file in Dunvelt.exe Dunvelt-doctor.exe launch-tests.exe image-tests.exe java-standin.exe; do
    check "... and so does its kit's $file" verify -in "kit/$file"
  done

  mkdir -p runtime/bin
  cp unsigned.exe runtime/Dunvelt.exe
  cp "$build/tests/wine/java-standin.exe" runtime/bin/java.exe
  cp -Rp runtime unsigned
  listing() { (cd "$1" && find . -type f -exec sha256sum {} + | LC_ALL=C sort); }
  listing runtime >before.txt
  # shellcheck disable=SC2086
  install_with() { "$source/scripts/sign-install.sh" runtime "$@" >out.txt 2>&1; }
  # shellcheck disable=SC2086
  check "signing an install folder through the signer command succeeds" \
    install_with $external --timestamp "$server"
  cat out.txt
  check "... warns of the certificate once" test "$(grep -c '^Warning: ' out.txt)" -eq 1
  check "... and signs both programs" grep -qx "signed 2 files, 0 already signed, 0 skipped" out.txt
  for file in Dunvelt.exe bin/java.exe; do
    check "... $file verifies, timestamped" verify -in "runtime/$file"
  done

  # Refusals, before the signer is asked or anything changes: refuses DESCRIPTION MESSAGE OPTIONS...
  refuses() {
    description=$1 message=$2
    shift 2
    rm -rf runtime signer.calls
    cp -Rp unsigned runtime
    check "$description is refused" fails install_with "$@"
    check "... with one message: $message" test "$(grep -c "$message" out.txt)" -eq 1
    listing runtime >after.txt
    check "... and leaves the folder as it was" cmp -s before.txt after.txt
  }
  # A certificate issued as if 40 days ago for 10 days, and one valid from 10 days on.
  openssl req -new -key keyholder/signer-key.pem -out old.csr -subj "/CN=Dunvelt expired signer" 2>/dev/null
  faketime -f -40d openssl x509 -req -in old.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial \
    -days 10 -extfile signer.extensions -out expired.pem 2>/dev/null
  faketime -f +10d openssl x509 -req -in old.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial \
    -days 365 -extfile signer.extensions -out future.pem 2>/dev/null
  date_of() {
    date -u -d "$(openssl x509 -in "$1" -noout "-$2" | sed 's/^[^=]*=//')" '+%Y-%m-%d %H:%M UTC'
  }
  refuses "an expired certificate" "the certificate in expired.pem expired on $(date_of expired.pem enddate)" \
    --signer "$scratch/signer" --certificate expired.pem --ca-file ca.pem
  check "... without asking the signer" test ! -e signer.calls
  refuses "a certificate not valid yet" \
    "the certificate in future.pem is not valid yet: from $(date_of future.pem startdate)" \
    --signer "$scratch/signer" --certificate future.pem --ca-file ca.pem
  printf '%s\n' '#!/bin/sh' 'echo "signing quota exceeded" >&2' 'exit 3' >failing-signer
  chmod +x failing-signer
  refuses "a signer command that fails" \
    "the signer command $scratch/failing-signer failed (exit 3): signing quota exceeded" \
    --signer "$scratch/failing-signer" --certificate signer.pem --ca-file ca.pem
  issue other "Dunvelt throwaway test other signer" 30 codeSigning
  write_signer other-signer other.pem other-key.pem
  refuses "a signature made with another certificate" \
    "the signer command signed with another certificate than signer.pem" \
    --signer "$scratch/other-signer" --certificate signer.pem --ca-file ca.pem
  ;;
reprotest)
  # Debian's reprotest builds the launcher twice, the second time with every variation it has
  # but the user and the host name: another build path, time (faketime), time zone, locale, umask,
  # environment, HOME, PATH, file order (disorderfs), CPU count and kernel personality. Its
  # bytes must not change; on a difference diffoscope's report says where.
  variations=+all,-user_group,-domain_host
  # disorderfs is a FUSE file system: where the build runs without FUSE, as in a container, the
  # file order cannot be varied, and saying so beats failing on it.
  if ! { [ -c /dev/fuse ] && [ -r /dev/fuse ]; }; then
    variations=$variations,-fileordering
    echo "This system has no FUSE (/dev/fuse), so the file order is not varied."
  fi
  cd "$scratch"
  mkdir "$scratch/source"
  find "$source" -mindepth 1 -maxdepth 1 ! -name '.*' ! -name 'build*' \
    -exec cp -R {} "$scratch/source/" ';'
  launcher_build='cmake -S . -B out -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF >/dev/null && cmake --build out --target Dunvelt >/dev/null'
  # reprotest STORE SOURCE BUILD_COMMAND ARTIFACT
  reprotest_run() {
    reprotest --verbosity 1 --variations="$variations" --store-dir="$1" -c "$3" "$2" "$4" \
      >"$1.log" 2>&1
  }
  echo "variations: $variations"
  if reprotest_run "$scratch/store" "$scratch/source" "$launcher_build" out/Dunvelt.exe; then
    echo "ok: reprotest built Dunvelt.exe twice, varied, and found no difference"
  else
    echo "FAILED: reprotest found Dunvelt.exe unreproducible, or could not run:"
    tail -n 20 "$scratch/store.log"
    head -n 200 "$scratch/store/experiment-1.diffoscope.out" 2>/dev/null || true
    failures=$((failures + 1))
  fi
  sed -n 's/^INFO:reprotest:build "experiment-1": //p' "$scratch/store.log"
  unsigned_copy "$build/Dunvelt.exe" unsigned.exe
  check "... with the bytes of this build" \
    grep -q "^$(digest unsigned.exe)  ./out/Dunvelt.exe$" "$scratch/store/SHA256SUMS"
  sums_hold() { (cd "$build" && sha256sum --quiet -c SHA256SUMS); }
  check "the build's SHA256SUMS holds for what it ships" sums_hold
  check "... and names the launcher, the doctor and their bills of materials" \
    test "$(grep -cE '  Dunvelt(-doctor)?\.exe(\.cdx\.json)?$' "$build/SHA256SUMS")" -eq 4

  # What it must catch: a program with its build's date in it and a PE time stamp.
  mkdir "$scratch/stamped"
  printf '#include <cstdio>\nint main() { std::puts(__DATE__ " " __TIME__); }\n' \
    >"$scratch/stamped/stamped.cpp"
  check "a program stamped with its build time is found unreproducible" fails reprotest_run \
    "$scratch/stamped-store" "$scratch/stamped" 'i686-w64-mingw32-g++ -Os stamped.cpp -o stamped.exe' \
    stamped.exe
  # The PE header, at 0x80 after mingw-w64's DOS stub, holds the link's time stamp.
  check "... and diffoscope's report shows the PE header's time stamp differing" \
    grep -q '[+-]00000080: 5045 0000 4c01' "$scratch/stamped-store/experiment-1.diffoscope.out"
  ;;
bom)
  # The bills of materials of the shipped programs and of the kit, against the official schema,
  # the files and the packages installed here.
  schemas="$source/tests/release/cyclonedx"
  bom_check() { /usr/bin/python3 "$source/tests/release/bom_check.py" "$schemas" "$@"; }
  runtime=libstdc++.a,libgcc.a,libgcc_eh.a,libmingw32.a,libmingwex.a,libmsvcrt.a
  for program in Dunvelt.exe Dunvelt-doctor.exe; do
    check "$program's bill of materials is valid, with its linked runtime" \
      bom_check "$build/$program.cdx.json" "$build/$program" --expect "$runtime"
  done
  check "the kit's bill of materials is valid, with each program's linked runtime" \
    bom_check "$build/Dunvelt-verify.zip.cdx.json" "$build/Dunvelt-verify.zip" --kit \
    --expect "$runtime"
  grep -A 30 '"name": "libstdc++.a"' "$build/Dunvelt.exe.cdx.json" | grep -E '"(version|purl)"'

  # What the checks must catch: a field the schema refuses, and a program that is not the one
  # described.
  cd "$scratch"
  sed 's/"alg": "SHA-512"/"alg": "SHA512"/' "$build/Dunvelt.exe.cdx.json" >renamed-hash.json
  check "the validator refuses an unknown hash algorithm" \
    fails bom_check renamed-hash.json "$build/Dunvelt.exe"
  mkdir changed
  cp "$build/Dunvelt.exe" changed/
  printf 'X' | dd of=changed/Dunvelt.exe bs=1 seek=1000 conv=notrunc 2>/dev/null
  check "a program that is not the one described fails" \
    fails bom_check "$build/Dunvelt.exe.cdx.json" changed/Dunvelt.exe

  # A link map that names what no Debian package installed, and a file that is no link map: one
  # message, and no bill of materials left behind.
  bom() { /usr/bin/python3 "$source/scripts/bom.py" program out.json "$build/Dunvelt.exe" "$@" \
    Dunvelt 1.0 2>errors.txt; }
  # Outside the build, whose own files belong to the program.
  foreign=$(mktemp -d)
  cp /usr/i686-w64-mingw32/lib/crt2u.o "$foreign/"
  sed "s|^LOAD .*/crt2u.o$|LOAD $foreign/crt2u.o|" "$build/Dunvelt.exe.map" >foreign.map
  check "a linked file of no Debian package fails" fails bom foreign.map
  check "... with one message that names it" \
    grep -qx "bom.py: Linked, but installed by no Debian package: $foreign/crt2u.o" errors.txt
  rm -rf "$foreign"
  check "a file that is no link map fails" fails bom "$build/Dunvelt.exe.cdx.json"
  check "... with one message" test "$(wc -l <errors.txt)" -eq 1
  check "... and leaves no bill of materials" test ! -e out.json
  ;;
install-bom)
  # The whole install's bill of materials, of a runtime image as a packager links it, with the
  # launcher, its own bill of materials beside it, and a signed program.
  cd "$scratch"
  "$build/tests/jvm/runtime-image.sh" "$scratch/install" none >image.log 2>&1 || { cat image.log; exit 1; }
  cp "$build/Dunvelt.exe" "$build/Dunvelt.exe.cdx.json" install/
  cp "$build/tests/wine/java-standin-signed.exe" install/bin/helper.exe
  install_bom() { /usr/bin/python3 "$source/scripts/install-bom.py" "$@" 2>errors.txt; }
  check "the install's bill of materials is written" install_bom install install.cdx.json "Sample App" 1.0
  check "... and is valid CycloneDX 1.6" /usr/bin/python3 "$source/tests/release/bom_check.py" \
    "$source/tests/release/cyclonedx" install.cdx.json --schema-only
  # What it says, one fact a line: "module NAME VERSION", "program NAME SHA512 SIGNER LINKED".
  /usr/bin/python3 -c '
import json, sys
for c in json.load(open(sys.argv[1]))["components"]:
    if c["name"] == "Java runtime":
        print("runtime", c["version"])
        for m in c["components"][1:]:
            print("module", m["name"], m.get("version", "-"))
    else:
        signer = [p["value"] for p in c["properties"] if p["name"] == "dunvelt:signer"][0]
        print("program", c["name"], c["hashes"][0]["content"], len(c.get("components", [])), signer)
' install.cdx.json >facts.txt
  grep -E '^(runtime|module)' facts.txt | tr '\n' ' '
  echo
  field() { sed -n "s/^$1=\"\(.*\)\"$/\1/p" install/release; }
  check "... with every module the runtime's release file names" test \
    "$(sed -n 's/^module \([^ ]*\) .*/\1/p' facts.txt | LC_ALL=C sort | tr '\n' ' ')" = \
    "$(field MODULES | tr ' ' '\n' | LC_ALL=C sort | tr '\n' ' ')"
  check "... java.base at the runtime's version" grep -qx "module java.base $(field JAVA_VERSION)" facts.txt
  check "... the launcher, with its hash, its linked components, unsigned" grep -qx \
    "program Dunvelt.exe $(sha512sum install/Dunvelt.exe | cut -d' ' -f1) 13 unsigned" facts.txt
  check "... and the signed program, with its hash and signer" grep -qx \
    "program bin/helper.exe $(sha512sum install/bin/helper.exe | cut -d' ' -f1) 0 /CN=Dunvelt sample signer" facts.txt
  check "... and no other program" test "$(grep -c '^program' facts.txt)" -eq 2
  check "a folder that is not there fails" fails install_bom missing out.json
  check "... with one message" test "$(wc -l <errors.txt)" -eq 1
  mv install/lib/modules modules
  check "a runtime without its image fails" fails install_bom install out.json
  check "... with one message that says so" grep -qx "install-bom.py: .* holds a release file but no lib/modules image" errors.txt
  check "... and writes nothing" test ! -e out.json
  ;;
toolchain)
  # The build's record of its toolchain, and its comparison with the packages installed here.
  record="$build/Dunvelt.buildinfo"
  toolchain() { /usr/bin/python3 "$source/scripts/toolchain.py" "$@"; }
  field() { sed -n "s/^$1: //p" "$2"; }
  cd "$scratch"
  if commit=$(git -C "$source" rev-parse HEAD 2>/dev/null); then
    check "the record names the source commit" test "$(field Git-Commit "$record")" = "$commit"
  fi
  check "... and the launcher's digest" \
    grep -qx " $(digest "$build/Dunvelt.exe") $(stat -c %s "$build/Dunvelt.exe") Dunvelt.exe" "$record"
  for package in g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 mingw-w64-i686-dev \
    mingw-w64-common libgmp10; do
    installed=$(dpkg-query -W -f '${Version}' "$package:$(dpkg --print-architecture)" 2>/dev/null ||
      dpkg-query -W -f '${Version}' "$package")
    check "... and $package at its installed version" grep -qx " $package (= $installed)[,]*" "$record"
  done
  toolchain compare "$record" >same.txt
  check "compared here, nothing differs" grep -q "^All [0-9]* packages are installed here" same.txt
  sed 's/^ \(binutils-mingw-w64-i686\) (= [^)]*)/ \1 (= 2.38-3+9)/; s/^ \(zip\) (= [^)]*)/ dunvelt-no-such-package (= 1.0)/' \
    "$record" >older.buildinfo
  check "a record of other versions differs" fails toolchain compare older.buildinfo >older.txt
  cat older.txt
  check "... naming the package and both versions" grep -qx \
    "  binutils-mingw-w64-i686: recorded 2.38-3+9, here $(dpkg-query -W -f '${Version}' binutils-mingw-w64-i686)" older.txt
  check "... and a package not installed here" \
    grep -qx "  dunvelt-no-such-package: recorded 1.0, not installed here" older.txt
  check "... and counting both" grep -q "^2 of [0-9]* packages differ" older.txt
  printf 'not a record\n' >garbage.buildinfo
  status=0
  toolchain compare garbage.buildinfo >garbage.txt 2>&1 || status=$?
  check "a file that is no record fails apart, with one message" \
    test "$status:$(wc -l <garbage.txt)" = 2:1
  (cd "$build" && SOURCE_DATE_EPOCH=1700000000 toolchain record "$scratch/epoch.buildinfo" \
    "$source" 1.0 --programs Dunvelt.exe)
  check "a given SOURCE_DATE_EPOCH is the one recorded" \
    test "$(field Source-Date-Epoch epoch.buildinfo)" = 1700000000
  ;;
install)
  cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
  check "the launcher is installed at the top of the prefix" \
    cmp -s "$build/Dunvelt.exe" "$scratch/prefix/Dunvelt.exe"
  check "and nothing else is" test "$(find "$scratch/prefix" -type f | wc -l)" -eq 1
  ;;
esac
echo "$case_name: $failures failed"
[ "$failures" -eq 0 ]
