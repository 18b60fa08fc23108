#!/bin/sh
# Signs copies of Windows programs with a throwaway certificate made for the purpose, for the
# doctor's checks of signatures: sign_samples.sh OUT PROGRAM... writes OUT/NAME-signed.exe for
# each PROGRAM NAME.exe, and OUT/sample-signer.cer, the certificate as DER, for a test to make it
# a root that Windows takes for one of Microsoft's Trusted Root Program. The key never leaves OUT,
# and a new one is made on every run. (Wine 8.0 verifies no ECDSA signature, so there is no such
# sample: those are judged on saved facts.)
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
openssl x509 -in "$certificate" -outform der -out "$out/sample-signer.cer" ||
  { echo "openssl could not write the certificate as DER"; exit 1; }
for program; do
  signed=$out/$(basename "$program" .exe)-signed.exe
  rm -f "$signed"
  osslsigncode sign -certs "$certificate" -key "$key" -h sha256 -in "$program" -out "$signed" \
    >/dev/null || { rm -f "$signed"; echo "osslsigncode could not sign $program"; exit 1; }
done
