#!/bin/sh
# Installs what is missing, then configures and builds everything in build/: the launcher, the
# Wine test programs and the host unit tests.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cd "$root"
cmake --preset windows >/dev/null
cmake --build --preset windows
