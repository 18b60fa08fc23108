#!/bin/sh
# Unpacks the verification kit into a folder with spaces and non-ASCII characters and runs it as a
# packager would, under Wine: its closing line must count no failure, its exit code must be 0,
# and neither %TEMP% nor the kit's folder may hold anything new afterwards.
#   kit_test.sh ZIP SCRATCH [LAUNCHER]
set -u
zip=$1 scratch=$2 launcher=${3:-}
kit="$scratch/Kit Prüfung Ωμέγα"
rm -rf "$scratch"
mkdir -p "$kit"
unzip -q "$zip" -d "$kit" || exit 1

temp=$(winepath -u "$(wine cmd /c echo %TEMP% | tr -d '\r')")
picture() { (cd "$1" && find . -printf '%p %s\n' | sort); }
temp_before=$(picture "$temp")
kit_before=$(picture "$kit")

status=0
(cd "$kit" && wine cmd /c dunvelt-verify.cmd ${launcher:+"$launcher"}) >"$scratch/output.txt" 2>&1 ||
  status=$?
tr -d '\r' <"$scratch/output.txt"

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
closing=$(tr -d '\r' <"$scratch/output.txt" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -n 1)
case $closing in
"") fail "no closing line" ;;
*" passed, 0 failed") ;;
*) fail "the kit counted failures: $closing" ;;
esac
[ "$status" -eq 0 ] || fail "exit code $status"
[ "$(picture "$temp")" = "$temp_before" ] || fail "something was left in %TEMP% ($temp)"
[ "$(picture "$kit")" = "$kit_before" ] || fail "something was left beside the kit"
echo "verify-kit: $failures failed"
[ "$failures" -eq 0 ]
