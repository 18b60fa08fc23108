#!/bin/sh
# Builds everything and runs the whole test suite: the host unit tests, the Wine tests and the
# lint checks.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/cross-build.sh"
"$root/scripts/wine-route.sh" describe "$root/build"
cd "$root"
ctest --preset windows
