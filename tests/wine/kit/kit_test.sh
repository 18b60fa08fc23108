#!/bin/sh
# Unpacks the verification kit into a folder with spaces and non-ASCII characters and runs it as a
# packager would, under Wine, its checks and then its timing: each closing line must count no
# failure, each exit code must be 0, and neither %TEMP% nor the kit's folder may hold anything new
# afterwards. The timing's figures are Wine's, so only their shape is checked.
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

status=0
(cd "$kit" && wine cmd /c dunvelt-verify.cmd /time ${launcher:+"$launcher"}) >"$scratch/timing.txt" \
  2>&1 || status=$?
tr -d '\r' <"$scratch/timing.txt" | tee "$scratch/timing-lf.txt"
[ "$status" -eq 0 ] || fail "the timing's exit code $status"
ms='[0-9]+\.[0-9]'
for line in \
  "^Double-click to the runtime's start, 20 rounds after 1 warm-up, on Windows [0-9.]+ with [0-9]+ processors:\$" \
  "^  Dunvelt\.exe +median +$ms ms, p10-p90 $ms-$ms ms\$" \
  "^  floor-start\.exe +median +$ms ms, p10-p90 $ms-$ms ms\$" \
  "^  Dunvelt\.exe / floor-start\.exe: [0-9.]+, 95 % interval [0-9.]+-[0-9.]+ \(the median of the per-round ratios\)\$" \
  "^  The hidden interpreter .* costs -?$ms ms a start, 95 % interval -?$ms--?$ms ms \(the median of the per-round differences\)\$" \
  "^1 passed, 0 failed\$"; do
  grep -Eq "$line" "$scratch/timing-lf.txt" || fail "the timing printed no line like: $line"
done
# Two positive medians, and the ratio and the difference each inside its own interval.
medians=$(sed -nE 's/.* median +([0-9.]+) ms.*/\1/p' "$scratch/timing-lf.txt" | awk '$1 > 0' | wc -l)
[ "$medians" -eq 2 ] || fail "the timing gave $medians positive medians, not 2"
sed -nE 's/.*(: |costs )(-?[0-9.]+)[ ,].* interval (-?[0-9.]+)-(-?[0-9.]+) .*/\2 \3 \4/p' \
  "$scratch/timing-lf.txt" | awk '$1 < $2 || $1 > $3 { bad = 1 } END { exit bad || NR != 2 }' ||
  fail "the timing's ratio or difference lies outside its interval"
[ "$(picture "$temp")" = "$temp_before" ] || fail "something was left in %TEMP% ($temp)"
[ "$(picture "$kit")" = "$kit_before" ] || fail "something was left beside the kit"
echo "verify-kit: $failures failed"
[ "$failures" -eq 0 ]
