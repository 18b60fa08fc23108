#!/bin/sh
# Release checks that need second builds of the launcher:
#   release_tests.sh reproducible|signing|install SOURCE BUILD SCRATCH
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
  printf 'correct horse\n' >password
  printf 'wrong horse\n' >wrong-password
  openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out certificate.pem -days 2 \
    -subj "/CN=Dunvelt throwaway test signer" 2>/dev/null
  openssl pkcs12 -export -inkey key.pem -in certificate.pem -out certificate.p12 \
    -passout file:password

  check "a build with a certificate succeeds" build_launcher "$scratch/signed" \
    -DDUNVELT_SIGNING_CERTIFICATE="$scratch/certificate.p12" \
    -DDUNVELT_SIGNING_PASSWORD_FILE="$scratch/password"
  signed="$scratch/signed/Dunvelt.exe"
  check "the signature verifies against the certificate" \
    osslsigncode verify -CAfile certificate.pem -in "$signed"
  unsigned_copy "$build/Dunvelt.exe" unsigned.exe
  osslsigncode remove-signature -in "$signed" -out stripped.exe >/dev/null 2>&1 || true
  check "removing the signature gives back the unsigned bytes" cmp -s stripped.exe unsigned.exe

  # The signed launcher still does its job: the launch test, run against it.
  mkdir -p "$scratch/signed/tests/wine"
  cp "$build/tests/wine/launch-tests.exe" "$build/tests/wine/java-standin.exe" \
    "$scratch/signed/tests/wine/"
  check "the signed launcher passes the launch test" "$source/scripts/wine-route.sh" run "$build" \
    wine "$scratch/signed/tests/wine/launch-tests.exe" arguments

  cp unsigned.exe from-environment.exe
  check "the password can come from the environment" env DUNVELT_SIGNING_PASSWORD="correct horse" \
    "$source/scripts/sign.sh" osslsigncode from-environment.exe certificate.p12
  check "... and that signature verifies too" \
    osslsigncode verify -CAfile certificate.pem -in from-environment.exe

  check "a wrong password fails the build" fails build_launcher "$scratch/wrong" \
    -DDUNVELT_SIGNING_CERTIFICATE="$scratch/certificate.p12" \
    -DDUNVELT_SIGNING_PASSWORD_FILE="$scratch/wrong-password"
  check "... with one clear message" grep -q "failed: wrong password" wrong.log
  check "... and leaves no executable" \
    test -z "$(find "$scratch/wrong" -maxdepth 1 -name 'Dunvelt.exe*')"

  check "a missing certificate fails the build" fails build_launcher "$scratch/missing" \
    -DDUNVELT_SIGNING_CERTIFICATE="$scratch/none.p12"
  check "... with one clear message" grep -q "Signing certificate not found" missing.log
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
