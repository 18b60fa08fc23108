#!/bin/sh
# Builds build/Dunvelt.exe, then shows its job: in a sample distribution folder, with bin\java.exe
# running the host's JDK on a sample JavaFX application, it runs the launcher once under Wine on a
# virtual display of its own. It saves a screenshot of the display once the application's window
# has appeared, and prints which windows were shown and what the runtime received.
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

demo="$build/demo"
app="$demo/Sample App"
rm -rf "$demo"
mkdir -p "$app/bin"
cp "$build/Dunvelt.exe" "$app/"
cp "$build/tests/jvm/java-runtime.sh" "$app/bin/java.exe"

# The desktop of a Wine prefix draws on the display it started with: this prefix's draws on the
# demo's own display.
route "$root/scripts/wine-prefix.sh" "$build/wineprefix" "$build/wineprefix-display"
export WINEPREFIX="$build/wineprefix-display" WINEARCH=win32 WINEDEBUG=-all
# A session of the prefix that lingers from the tests would draw on their display, which is gone.
route wineserver -k 2>/dev/null || true
windows() { /usr/bin/python3 "$root/tests/display/windows.py" "$@"; }
windows xvfb-start "$demo/display" >/dev/null
trap 'windows xvfb-stop "$demo/display"' EXIT
# The recorder ends when the application's window has closed; the launcher's own exit code is kept
# apart from its verdict.
status=0
# shellcheck disable=SC2016 # the inner shell expands its own arguments
(cd "$app" && windows record --display-from "$demo/display" --application \
  --screenshot "$demo/screenshot.png" "$demo/windows.log" \
  -- sh -c '"$@"; echo $? >"$0"' "$demo/launcher-exit-code" "$root/scripts/wine-route.sh" run "$build" \
  wine Dunvelt.exe) >/dev/null || status=$?
# The application's window has closed, and the interpreter ends with the runtime: end the session
# now, rather than let it linger on a display that is about to go.
route wineserver -k 2>/dev/null || true

echo "Dunvelt.exe exited with code $(cat "$demo/launcher-exit-code" 2>/dev/null || echo "unknown")."
sed -n '/^Windows shown:/,$p' "$demo/windows.log"
[ -f "$demo/screenshot.png" ] && echo "Screenshot of the display: $demo/screenshot.png"
report="$app/orbisk-report.txt"
if [ ! -f "$report" ]; then
  echo "The application did not start. The runtime said:"
  cat "$app/orbisk-runtime-errors.txt" 2>/dev/null
  exit 1
fi
value() { sed -n "s/^$1=//p" "$report"; }
echo "The Java runtime received:"
echo "  options:           $(sed -n 's/^input\.[1-7]=//p' "$report" | paste -sd ' ')"
echo "  module:            $(value property.jdk.module.main)/$(value property.jdk.module.main.class)"
echo "  working directory: $(value directory)"
echo "  JavaFX touch:      $(value javafx.touch)"
exit "$status"
