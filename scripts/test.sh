#!/bin/sh
# Builds everything and runs the whole test suite: the host unit tests and the Wine tests.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cd "$root"
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
