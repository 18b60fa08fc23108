#!/bin/sh
# Makes the headless 32-bit Wine prefix at $1 once; later calls find it ready and return at once.
set -eu
prefix=$1
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
[ -f "$prefix/.dunvelt-ready" ] && exit 0
rm -rf "$prefix"
wineboot -i >/dev/null 2>&1
wineserver -w
touch "$prefix/.dunvelt-ready"
