#!/usr/bin/env bash
# The one way this project runs 32-bit Wine: every Wine run of the build, the tests, the demo and
# the benchmark goes through here.
#
#   wine-route.sh describe BUILD          one line: which route BUILD uses, and why
#   wine-route.sh emulated BUILD          exits 0 when BUILD runs Wine emulated
#   wine-route.sh run BUILD COMMAND...    runs COMMAND so that the 32-bit Wine in it can start
#
# Wine's 32-bit loader is an i386 program. Where the kernel runs such programs, COMMAND runs as
# it is. Some kernels are built or booted with 32-bit emulation off, and then every i386 program
# fails with "Exec format error". There COMMAND runs in a private user and mount namespace whose
# own binfmt_misc hands i386 programs to a static qemu-i386: nothing outside the namespace sees
# the registration, and it ends with the last process inside. Debian 12's own qemu-user (7.2)
# cannot run Wine; the one of the backports (10 or later) can, so that one is fetched, once per
# build folder, without touching the system's apt configuration.
#
# A probe decides the route once per build folder; delete BUILD/wine-route to probe again. Either
# way, COMMAND runs under a UTF-8 locale: the caller's, or C.UTF-8 where the caller's is not.
set -euo pipefail

usage() {
  echo "usage: $0 describe|emulated BUILD | run BUILD COMMAND..." >&2
  exit 2
}
[[ $# -ge 2 ]] || usage
action=$1 build=$2
shift 2
state="$build/wine-route"
qemu="$state/qemu-i386"

fail() {
  echo "$*" >&2
  exit 1
}

# An i386 ELF program of 93 bytes that only calls exit(0): whether it runs is the whole question.
write_probe() {
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' # 32-bit, little-endian
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'         # executable, i386, entry
  printf '\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'         # program headers at 52
  printf '\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'         # one of 32 bytes
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'         # load the file at 0x08048000
  printf '\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00'
  printf '\x05\x00\x00\x00\x00\x10\x00\x00'                         # readable, executable
  printf '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'                     # exit(0)
}

qemu_version() { "$1" --version 2>/dev/null | sed -n '1s/^qemu-i386 version \([0-9.]*\).*/\1/p'; }
qemu_major() { local version; version=$(qemu_version "$1"); echo "${version%%.*}"; }

# shellcheck source-path=SCRIPTDIR source=apt-sources.sh
. "$(dirname "${BASH_SOURCE[0]}")/apt-sources.sh"

# An archive entry for RELEASE, its updates or its backports from the machine's own apt sources:
# "URI KEYRING" (KEYRING may be empty).
archive_entry() {
  apt_archives "$1" | awk -v release="$1" '
    $1 == release || $1 == release "-updates" || $1 == release "-backports" { print $2, $3 }'
}

# Downloads Debian's qemu-user from the backports into the build folder and keeps only its
# qemu-i386. apt runs with a sources list, lists and archives of its own.
fetch_qemu() {
  local release backports entry uri keyring apt="$state/apt" log="$state/fetch.log"
  release=$(codename)
  backports="$release-backports"
  local advice="Install Debian's qemu-user 10 or later from $backports (apt-get install -t $backports qemu-user, with $backports in the apt sources), then run again."
  entry=$(archive_entry "$release" | head -n 1)
  [[ -n $entry ]] || fail "No Debian archive for $release in the apt sources, so qemu-user cannot be fetched. $advice"
  read -r uri keyring <<<"$entry"
  echo "Fetching qemu-user from $backports into $state (once per build folder)" >&2
  rm -rf "$apt"
  mkdir -p "$apt/lists/partial" "$apt/archives/partial"
  echo "deb ${keyring:+[signed-by=$keyring] }$uri $backports main" >"$apt/sources.list"
  local options=(-q -o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/none"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache::Archives=$apt/archives"
    -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)")
  if ! { apt-get "${options[@]}" update && (cd "$apt" && apt-get "${options[@]}" download qemu-user); } \
    >"$log" 2>&1; then
    # apt's first warning says why (no network, say); its error only that the package is missing.
    fail "Fetching qemu-user from $backports failed ($(grep -E '^[WE]: ' "$log" | head -n 1 | cut -c4- | tr -s ' ')). $advice"
  fi
  dpkg-deb --fsys-tarfile "$apt"/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 >"$qemu.part" ||
    fail "The fetched qemu-user holds no usr/bin/qemu-i386. $advice"
  chmod +x "$qemu.part"
  local major
  major=$(qemu_major "$qemu.part")
  [[ ${major:-0} -ge 10 ]] ||
    fail "The fetched qemu-i386 is version ${major:-unknown}; Wine needs 10 or later. $advice"
  mv "$qemu.part" "$qemu"
  rm -rf "$apt" "$log"
}

# Probes once per build folder; with "emulator", also fetches the emulator where it is needed and
# not yet there.
decide() {
  mkdir -p "$state"
  exec 9>"$state/lock" # concurrent test runs probe and fetch one at a time
  flock 9
  if [[ ! -f $state/route ]]; then
    write_probe >"$state/probe-i386"
    chmod +x "$state/probe-i386"
    local status=0 error
    error=$("$state/probe-i386" 2>&1) || status=$?
    if [[ $status -eq 0 ]]; then
      echo "native: the kernel runs 32-bit x86 programs" >"$state/route"
    else
      echo "emulated: the kernel refuses 32-bit x86 programs (${error##*: }), so Wine runs under qemu-i386" >"$state/route"
    fi
  fi
  if [[ ${1:-} == emulator && $(cat "$state/route") == emulated* && ! -x $qemu ]]; then
    local system
    system=$(command -v qemu-i386 || true)
    if [[ -n $system && $(qemu_major "$system") -ge 10 ]]; then
      ln -sf "$system" "$qemu"
    else
      fetch_qemu
    fi
  fi
  flock -u 9
}

# Runs COMMAND and exits with its status, relaying its output until COMMAND itself ends. The first
# Wine program of a session starts the session's own programs (its server, services, desktop and
# drivers), which inherit that program's output and hold it open until the session ends, for as
# long as any other program keeps the prefix busy. A caller that reads the output to its end, as
# CTest does, would wait all that time; here they hold files, which the relay stops reading when
# COMMAND ends.
relayed() {
  local out err command status=0
  out=$(mktemp -p "$state" output.XXXXXX)
  err=$(mktemp -p "$state" errors.XXXXXX)
  "$@" <&0 >"$out" 2>"$err" &
  command=$!
  trap 'kill "$command" 2>/dev/null; rm -f "$out" "$err"; exit 143' TERM INT
  tail -s 0.1 -c +1 -f --pid="$command" "$out" &
  tail -s 0.1 -c +1 -f --pid="$command" "$err" >&2 &
  wait "$command" || status=$?
  wait
  rm -f "$out" "$err"
  exit "$status"
}

# Before COMMAND runs in the prefix in WINEPREFIX, the prefix is made if it is missing, and its
# session is started, one run at a time (scripts/wine-prefix.sh --session): programs that start a
# prefix's session together can leave it hanging. The session lingers 10 s after its last program
# ends, so that the next run finds it started, and holds none of COMMAND's output.
prefix_script="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-prefix.sh"
session() {
  [[ -n ${WINEPREFIX:-} ]] || return 0
  "$prefix_script" --session
}

case $action in
describe)
  decide emulator
  route=$(cat "$state/route")
  if [[ $route == emulated* ]]; then route="$route $(qemu_version "$qemu")"; fi
  echo "Wine route: $route."
  ;;
emulated)
  decide
  [[ $(cat "$state/route") == emulated* ]]
  ;;
run)
  [[ $# -ge 1 ]] || usage
  command -v wine >/dev/null ||
    fail "Wine is not installed: running Dunvelt.exe needs Debian's wine, wine64 and wine32:i386 (scripts/install-deps.sh installs them)."
  # Wine turns Windows file names into Unix ones in the locale's character set, and cannot open
  # what that set cannot spell: under the C locale, nothing with a non-ASCII name. Debian always
  # has C.UTF-8, which spells every name.
  [[ $(locale charmap 2>/dev/null) == UTF-8 ]] || export LC_ALL=C.UTF-8
  decide emulator
  [[ $(cat "$state/route") == emulated* ]] || { session; relayed "$@"; }
  # Inside the namespace: a binfmt_misc of its own, and i386 ELF programs handed to qemu-i386.
  # The flags: O and C give qemu the program open and with its own rights, F loads qemu now, so
  # that it is found whatever the program's mount view.
  # shellcheck disable=SC2016 # the inner shell expands its own arguments
  relayed unshare --user --map-root-user --mount --fork /bin/sh -c '
    qemu=$1 prefix_script=$2
    shift 2
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || {
      echo "A private binfmt_misc cannot be mounted (it needs Linux 6.7 or later), so 32-bit Wine cannot run here." >&2
      exit 125
    }
    printf "%s" ":dunvelt-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:OCF" \
      >/proc/sys/fs/binfmt_misc/register
    # As session() does, in the namespace, whose user the session belongs to.
    if [ -n "${WINEPREFIX:-}" ]; then "$prefix_script" --session || exit 1; fi
    exec "$@"' route "$(realpath "$qemu")" "$@"
  ;;
*) usage ;;
esac
