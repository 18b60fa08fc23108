#!/bin/sh
# Makes the headless 32-bit Wine prefix at $1 once, and copies of it at any further paths; later
# calls find them ready and return at once. When Wine cannot make it, Wine's own words are shown.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
if [ ! -f "$prefix/.dunvelt-ready" ]; then
  rm -rf "$prefix"
  log="$prefix.log"
  if ! { wineboot -i && wineserver -w; } >"$log" 2>&1; then
    echo "Wine could not make the prefix $prefix:" >&2
    cat "$log" >&2
    exit 1
  fi
  rm -f "$log"
  touch "$prefix/.dunvelt-ready"
fi
# A copy takes a second where making a prefix takes twenty; it is whole once it has its name.
for copy in "$@"; do
  [ -f "$copy/.dunvelt-ready" ] && continue
  rm -rf "$copy" "$copy.partial"
  cp -a "$prefix" "$copy.partial"
  mv "$copy.partial" "$copy"
done
