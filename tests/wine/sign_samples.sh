#!/bin/sh
# Signs copies of Windows programs with a throwaway certificate made for the purpose, for the
# doctor's checks of signatures: sign_samples.sh OUT PROGRAM... writes OUT/NAME-signed.exe for
# each PROGRAM NAME.exe. The key never leaves OUT, and a new one is made on every run.
set -eu
out=$1
shift
for tool in openssl osslsigncode; do
  command -v "$tool" >/dev/null ||
    { echo "$tool not found: install the Debian package $tool (scripts/install-deps.sh does it)"; exit 1; }
done
key=$out/sample-signer-key.pem certificate=$out/sample-signer.pem
trap 'rm -f "$key"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$key" -out "$certificate" -days 3650 \
  -subj "/CN=Dunvelt sample signer" >/dev/null 2>&1 || { echo "openssl could not make a certificate"; exit 1; }
for program; do
  signed=$out/$(basename "$program" .exe)-signed.exe
  rm -f "$signed"
  osslsigncode sign -certs "$certificate" -key "$key" -h sha256 -in "$program" -out "$signed" \
    >/dev/null || { rm -f "$signed"; echo "osslsigncode could not sign $program"; exit 1; }
done
