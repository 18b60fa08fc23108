#!/bin/sh
# Installs what is missing, then configures and builds everything in build/: the launcher, the
# Wine test programs and the host unit tests. A packager's build leaves the host unit tests out
# and lets warnings pass; the project's own build turns both on.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cd "$root"
cmake --preset windows -DDUNVELT_HOST_TESTS=ON -DDUNVELT_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build --preset windows
