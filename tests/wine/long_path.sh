#!/bin/sh
# The launcher started in a folder whose path is longer than MAX_PATH. Windows cannot hold such a
# current directory (CreateProcessW refuses it), and Wine starts the program in the Windows
# directory instead. There the hidden interpreter finds no bin\java.exe and ends by itself; the
# launcher must still end with 0, quickly, and write nothing.
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
timeout 240 wineserver -w || fail "the processes of the launch did not end"
[ "$(picture)" = "$before" ] || fail "something was written in the folder"
echo "long-path (${#folder} characters): $failures failed"
[ "$failures" -eq 0 ]
