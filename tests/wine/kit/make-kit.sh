#!/bin/sh
# Packs the verification kit, bit-identical from build to build:
#   make-kit.sh ZIP_TOOL ZIP STAGE FILE... [-- SIGNING_OPTIONS...]
# The files go in flat, in the order given, each with the same time stamp and permissions, and
# without the owner or extra time fields that zip would otherwise take from the build machine.
# With signing options (those of scripts/sign-install.sh), every program in it that is not signed
# yet is signed first, so that Smart App Control lets the kit run; a signed kit is no longer
# bit-identical, since each signature holds its time.
set -eu
tool=$1 zip=$2 stage=$3
shift 3
rm -rf "$stage" "$zip"
mkdir -p "$stage"
names=""
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  name=$(basename "$1")
  cp "$1" "$stage/$name"
  names="$names $name"
  shift
done
if [ $# -gt 0 ]; then
  shift
  "$(dirname "$0")/../../../scripts/sign-install.sh" "$stage" "$@" >/dev/null
fi
for name in $names; do
  chmod 0644 "$stage/$name"
  touch -d '2000-01-01 00:00:00 UTC' "$stage/$name"
done
# shellcheck disable=SC2086 # the names hold no blanks: they are the kit's own fixed file names
(cd "$stage" && TZ=UTC "$tool" -q -X -D "$zip.partial" $names)
mv "$zip.partial" "$zip"
