#!/bin/sh
# Installs the Debian packages the build and the tests need, and only those that are missing.
# Runs as root, or through sudo otherwise.
set -eu
packages="cmake make g++ googletest libgtest-dev libgmock-dev g++-mingw-w64-i686 wine wine64
  wine32:i386 openssl osslsigncode clang-format clang-tidy shellcheck
  openjdk-17-jdk-headless zip unzip"
# The missing packages, one argument each.
set --
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    set -- "$@" "$package"
done
[ $# -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: $*"
$sudo dpkg --add-architecture i386
$sudo apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" \
  >/dev/null
