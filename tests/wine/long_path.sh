#!/bin/sh
# The launcher started in a folder whose path is longer than MAX_PATH. Windows cannot hold such a
# current directory (CreateProcessW refuses it), and Wine starts the program in the Windows
# directory instead. There the hidden interpreter finds no bin\java.exe and must end by itself;
# the launcher must still end with 0, quickly, and write nothing. The doctor names the cause.
set -u
build=$1
folder="$build/tests/wine/work/long-path"
rm -rf "$folder"
while [ ${#folder} -le 300 ]; do folder="$folder/$(printf '%050d' 0 | tr 0 d)"; done
mkdir -p "$folder/bin"
cp "$build/Dunvelt.exe" "$folder/"
cp "$build/tests/wine/${DUNVELT_STANDIN:-java-standin.exe}" "$folder/bin/java.exe"
picture() { (cd "$folder" && find . -printf '%p %s\n' | sort); }
before=$(picture)

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
status=0
(cd "$folder" && timeout 240 wine Dunvelt.exe) || status=$?
[ "$status" -eq 0 ] || fail "exit code $status"
# The interpreter the launch started, known by its command line; Wine shows a program's Windows
# command line as its arguments. No other test runs meanwhile.
interpreter_runs() { pgrep -f 'cmd\.exe /C bin\\java\.exe -Dprism\.order=sw' >/dev/null; }
deadline=$(($(date +%s) + 240))
while interpreter_runs; do
  if [ "$(date +%s)" -ge "$deadline" ]; then
    fail "the launch's interpreter did not end"
    break
  fi
  sleep 0.1
done
[ "$(picture)" = "$before" ] || fail "something was written in the folder"

# The doctor names the length as the cause, and starts nothing there: it must end, with 1.
windows_folder="Z:$(printf '%s' "$folder" | tr / "\\\\")"
status=0
report=$(timeout 120 wine "$build/Dunvelt-doctor.exe" "$windows_folder" 2>&1) || status=$?
printf '%s\n' "$report" | sed 's/^/doctor: /'
[ "$status" -eq 1 ] || fail "the doctor's exit code $status"
printf '%s\n' "$report" | grep -q "^PROBLEM: The install folder's path is ${#windows_folder} characters long" ||
  fail "the doctor did not name the folder's length"
printf '%s\n' "$report" | grep -q "^NOTE: Neither bin.java.exe nor cmd.exe was started" ||
  fail "the doctor did not say that it started nothing there"

# A folder of 250 characters: cmd.exe can run in it, but the relative bin\java.exe, 263 characters
# in all, is past MAX_PATH. The doctor names that, and still reads the runtime there as it is.
near="$build/tests/wine/work/long-path-near/"
rm -rf "$near"
near="$near$(printf '%0*d' $((248 - ${#near})) 0 | tr 0 n)"  # Z: makes it 250 for Windows
mkdir -p "$near/bin"
cp "$build/Dunvelt.exe" "$near/"
cp "$build/tests/wine/${DUNVELT_STANDIN:-java-standin.exe}" "$near/bin/java.exe"
near_windows="Z:$(printf '%s' "$near" | tr / "\\\\")"
status=0
report=$(timeout 240 wine "$build/Dunvelt-doctor.exe" "$near_windows" 2>&1) || status=$?
printf '%s\n' "$report" | sed 's/^/doctor: /'
[ "$status" -eq 1 ] || fail "the doctor's exit code $status for ${#near_windows} characters"
printf '%s\n' "$report" |
  grep -q "^PROBLEM: The install folder's path is ${#near_windows} characters long. cmd.exe can run" ||
  fail "the doctor did not name the runtime's path as too long"
printf '%s\n' "$report" | grep -q "^NOTE: .*\[install.runtime-left-out\]" ||
  fail "the doctor did not say that it left the runtime's start out"
printf '%s\n' "$report" | grep -q "^OK: .*\[runtime.image-ok\]" ||
  fail "the doctor did not read bin\\java.exe in a folder of ${#near_windows} characters"
rm -rf "$near"
echo "long-path (${#folder} characters): $failures failed"
[ "$failures" -eq 0 ]
