#!/bin/sh
# Makes a headless Wine prefix once, and copies of it at any further paths; later calls find them
# ready and return at once. When Wine cannot make it, Wine's own words are shown.
#   wine-prefix.sh [--win64] PREFIX [COPY...]
# The prefix is a 32-bit Windows, or with --win64 a 64-bit one, which runs 32-bit programs as
# 64-bit Windows does (WoW64).
set -eu
arch=win32
if [ "${1:-}" = --win64 ]; then
  arch=win64
  shift
fi
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
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
