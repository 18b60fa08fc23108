#!/bin/sh
# Installs the Debian packages the build and the tests need, and only those that are missing; with
# arguments, those packages instead. Runs as root, or through sudo otherwise.
#
# A mirror caught part-way through a sync serves an index that does not match its release file.
# apt-get update then fails on that index and leaves its suite out of the run, so the install
# goes on without it. That can pair packages of one architecture from the release with the other's
# from its updates, which apt cannot resolve; the install is then tried once more pinned to the
# release's own suite, where both architectures agree.
set -eu
packages=${*:-"cmake make g++ googletest libgtest-dev libgmock-dev g++-mingw-w64-i686
  g++-mingw-w64-x86-64-win32 wine wine64 wine32:i386 openssl osslsigncode softhsm2 opensc
  libengine-pkcs11-openssl clang-format clang-tidy clang libclang-rt-14-dev shellcheck
  openjdk-17-jdk-headless openjfx xvfb
  python3-xlib python3-jsonschema nlohmann-json3-dev zip unzip
  reprotest diffoscope-minimal xxd faketime disorderfs"}
# The missing packages, one argument each. A package that a cut-short run left unpacked but not
# configured counts as missing.
set --
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    set -- "$@" "$package"
done
[ $# -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "Installing: $*"
started=$(date +%s)
case " $* " in *:i386\ *) $sudo dpkg --add-architecture i386 ;; esac
# Finishes what an interrupted run left half done, so that a second run mends the first.
$sudo env DEBIAN_FRONTEND=noninteractive dpkg --configure -a >/dev/null

# One line per index the update could not fetch, apt's reason in brackets.
failed_indexes=""
if ! $sudo apt-get update -q >"$log" 2>&1; then
  failed_indexes=$(sed -n 's/^E: Failed to fetch \([^ ]*\)  *\(.*\)/\1 (\2)/p' "$log" |
    sed 's/ *\[IP: [^]]*\]//')
  [ -n "$failed_indexes" ] || failed_indexes="an index ($(grep '^E: ' "$log" | head -n 1 | cut -c4-))"
  echo "$failed_indexes" | while read -r index; do
    echo "apt-get update could not fetch $index; the install goes on without it."
  done
fi

install() {
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --fix-broken \
    --no-install-recommends "$@" >"$log" 2>&1
}
installed() {
  echo "Installed in $(($(date +%s) - started)) s: $(grep 'newly installed' "$log")"
  exit 0
}
install "$@" && installed
# shellcheck source=/dev/null # the system's own release file, not part of the project
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [ -n "$release" ]; then
  echo "apt-get cannot resolve the install from these lists; trying once more pinned to $release, the release named in /etc/os-release."
  install -t "$release" "$@" && installed
fi

if [ -n "$failed_indexes" ]; then
  echo "The install failed. The Debian archive looks out of sync: apt-get update could not fetch" \
    "$failed_indexes, as happens while a mirror is part-way through a sync. Try again" \
    "later, when a second run finishes what this one left, or point the apt sources at another" \
    "Debian mirror." >&2
else
  echo "The install failed." >&2
fi
echo "apt-get said:" >&2
grep -E '^(E:| [^ ].*: Depends:)' "$log" | head -n 8 >&2
exit 1
