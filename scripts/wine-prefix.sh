#!/bin/sh
# Makes the headless 32-bit Wine prefix at $1 once; later calls find it ready and return at once.
# When Wine cannot make it, Wine's own words are shown.
set -eu
prefix=$1
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
[ -f "$prefix/.dunvelt-ready" ] && exit 0
rm -rf "$prefix"
log="$prefix.log"
if ! { wineboot -i && wineserver -w; } >"$log" 2>&1; then
  echo "Wine could not make the prefix $prefix:" >&2
  cat "$log" >&2
  exit 1
fi
rm -f "$log"
touch "$prefix/.dunvelt-ready"
