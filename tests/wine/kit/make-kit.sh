#!/bin/sh
# Packs the verification kit, bit-identical from build to build:
#   make-kit.sh ZIP_TOOL ZIP STAGE FILE...
# The files go in flat, in the order given, each with the same time stamp and permissions, and
# without the owner or extra time fields that zip would otherwise take from the build machine.
set -eu
tool=$1 zip=$2 stage=$3
shift 3
rm -rf "$stage" "$zip"
mkdir -p "$stage"
names=""
for file in "$@"; do
  name=$(basename "$file")
  cp "$file" "$stage/$name"
  chmod 0644 "$stage/$name"
  touch -d '2000-01-01 00:00:00 UTC' "$stage/$name"
  names="$names $name"
done
# shellcheck disable=SC2086 # the names hold no blanks: they are the kit's own fixed file names
(cd "$stage" && TZ=UTC "$tool" -q -X -D "$zip.partial" $names)
mv "$zip.partial" "$zip"
