#!/bin/sh
# Builds build/Dunvelt.exe, then shows its job: in a sample distribution folder, beside a stand-in
# bin\java.exe, it runs the launcher once under Wine and prints what the runtime received.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/cross-build.sh"

build="$root/build"
echo "Built $build/Dunvelt.exe ($(stat -c %s "$build/Dunvelt.exe") bytes)"
echo "SHA-256: $(sha256sum "$build/Dunvelt.exe" | cut -d' ' -f1)"
echo "Verification kit for real Windows: $build/Dunvelt-verify.zip ($(stat -c %s "$build/Dunvelt-verify.zip") bytes)"
route() { "$root/scripts/wine-route.sh" run "$build" "$@"; }
if ! "$root/scripts/wine-route.sh" describe "$build"; then
  echo "The build is complete; the demo cannot run under Wine here, for the reason above."
  exit 0
fi

demo="$build/demo/Sample App"
rm -rf "$demo"
mkdir -p "$demo/bin"
cp "$build/Dunvelt.exe" "$demo/"
cp "$build/tests/wine/java-standin.exe" "$demo/bin/java.exe"

route "$root/scripts/wine-prefix.sh" "$build/wineprefix"
export WINEPREFIX="$build/wineprefix" WINEARCH=win32 WINEDEBUG=-all
unset DISPLAY
status=0
(cd "$demo" && route wine Dunvelt.exe) || status=$?
# The launcher does not wait for the runtime; wait here until every Wine process has ended.
route wineserver -w

echo "Dunvelt.exe exited with code $status."
for record in "$demo"/java-record-*.txt; do
  [ -f "$record" ] || { echo "The runtime did not start."; exit 1; }
  echo "The stand-in runtime received:"
  sed -n '1s/^/  command line:      /p; 2s/^/  working directory: /p' "$record"
done
