#!/usr/bin/env bash
# Makes a headless Wine prefix once, and copies of it at any further paths; later calls find them
# ready and return at once. When Wine cannot make it, Wine's own words are shown.
#   wine-prefix.sh [--win64] PREFIX [COPY...]
#   wine-prefix.sh --session
# The prefix is a 32-bit Windows, or with --win64 a 64-bit one, which runs 32-bit programs as
# 64-bit Windows does (WoW64). --session is what scripts/wine-route.sh does before every Wine run:
# it makes the prefix in WINEPREFIX (of WINEARCH) if it is not there yet, and starts its session.
#
# Wine's first program in a prefix runs wineboot --init, which makes the prefix or starts its
# session (its services, desktop and drivers), and every other program that starts meanwhile waits
# for wineboot's event, up to five minutes on a new prefix. Programs that start a session together
# can leave it half started, with wineboot waiting for good. So a prefix is made, and each of its
# sessions started, by one run at a time, under a lock beside the prefix; the others wait for the
# lock. Every wait has a bound, and a wait that takes long says what it is waiting for.
set -euo pipefail

# Bounds in seconds. Emulated on two busy cores, making a prefix took about 60 s and starting a
# session about 5 s; they only stop a Wine that hangs.
make_bound=${DUNVELT_WINE_MAKE_BOUND:-300}
session_bound=${DUNVELT_WINE_SESSION_BOUND:-120}
lock_bound=$((make_bound + session_bound + 60))

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

fail() {
  echo "$*" >&2
  exit 1
}

# The Windows programs and the Wine server running in the prefix, of the user's own processes:
# "services.exe, wineboot.exe --init, winedevice.exe (2), wineserver64 -p0", or "none".
session_processes() {
  local prefix=$1 pid names=()
  for pid in /proc/[0-9]*; do
    [[ -O $pid ]] || continue
    tr '\0' '\n' 2>/dev/null <"$pid/environ" | grep -qxF "WINEPREFIX=$prefix" || continue
    local program rest
    IFS= read -r -d '' program 2>/dev/null <"$pid/cmdline" || continue
    rest=$(tail -z -n +2 "$pid/cmdline" 2>/dev/null | tr '\0' ' ')
    program=${program##*[\\/]}
    # Wine's own programs; not the shells and loaders that started them.
    [[ $program == *.exe || $program == wineserver* ]] || continue
    names+=("$program${rest:+ ${rest% }}")
  done
  if [[ ${#names[@]} -eq 0 ]]; then echo none; return; fi
  printf '%s\n' "${names[@]}" | sort | uniq -c |
    awk '{ count = $1; $1 = ""; sub(/^ /, ""); printf "%s%s%s", sep, $0, (count > 1 ? " (" count ")" : ""); sep = ", " }'
}

# Runs COMMAND with its output in $log, says every 10 s what it is waiting for and which of the
# prefix's programs run, and stops it after SECONDS: bounded PREFIX SECONDS WHAT COMMAND...
bounded() {
  local prefix=$1 limit=$2 what=$3 status started=$SECONDS fd
  shift 3
  # The lock is closed for the command: Wine's server and the session's programs outlive it.
  exec {fd}< <(timeout -k 10 "$limit" "$@" </dev/null >>"$log" 2>&1 8>&- || echo $?; echo 0)
  until read -r -t 10 status <&"$fd"; do
    [[ $? -gt 128 ]] || break
    echo "Waiting for $what ($((SECONDS - started)) s of at most $limit s; running in the prefix: $(session_processes "$prefix"))" >&2
  done
  exec {fd}<&-
  if [[ ${status:-1} -eq 124 || ${status:-1} -eq 137 ]]; then
    echo "$what did not end within $limit s; running in the prefix: $(session_processes "$prefix")." >&2
  fi
  return "${status:-1}"
}

# Takes the lock of PREFIX, waiting for another run that holds it: lock PREFIX
lock() {
  mkdir -p "$(dirname "$1")"
  exec 8>"$1.lock"
  flock -w 10 8 && return
  echo "Waiting for another run that makes or starts the Wine prefix $1 (at most $lock_bound s more)" >&2
  flock -w "$lock_bound" 8 || fail "The Wine prefix $1 stayed locked for $lock_bound s by another run (lock: $1.lock)."
}

# Makes PREFIX for WINEARCH, headless, and waits for its session to end, so that all of it is on
# disk: make_prefix PREFIX
make_prefix() {
  local prefix=$1 display=${DISPLAY-}
  export WINEPREFIX=$prefix
  unset DISPLAY
  rm -rf "$prefix"
  log="$prefix.log"
  : >"$log"
  if ! bounded "$prefix" "$make_bound" "wineboot --init to make the Wine prefix $prefix" wineboot -i ||
    ! bounded "$prefix" "$make_bound" "the new prefix's session to end (wineserver -w)" wineserver -w; then
    timeout 30 wineserver -k 8>&- >/dev/null 2>&1 || true
    echo "Wine could not make the prefix $prefix:" >&2
    cat "$log" >&2
    exit 1
  fi
  rm -f "$log"
  touch "$prefix/.dunvelt-ready"
  # A session started later draws on the caller's display.
  [[ -z $display ]] || export DISPLAY=$display
}

# Starts the session of the prefix in WINEPREFIX, making the prefix first where it is missing. Its
# server lingers 10 s after its last program ends: starting a session takes about four seconds
# emulated, and a server that a program starts ends the session as soon as its last program does.
# The first program ends only once wineboot has started the session; its output goes nowhere, so
# that the session's programs, which inherit it, hold no caller's output open.
start_session() {
  local prefix=${WINEPREFIX:-}
  [[ -n $prefix ]] || fail "wine-prefix.sh --session needs WINEPREFIX"
  export WINEARCH=${WINEARCH:-win32}
  lock "$prefix"
  [[ -f $prefix/.dunvelt-ready ]] || make_prefix "$prefix"
  wineserver -p10 </dev/null >/dev/null 2>&1 8>&- || true
  log=/dev/null
  if ! bounded "$prefix" "$session_bound" "the Wine session of $prefix to start (wineboot --init)" \
    wine cmd.exe /c exit 0; then
    timeout 30 wineserver -k 8>&- >/dev/null 2>&1 || true
    fail "The Wine session of $prefix did not start; it has been ended. Run again; if it hangs again, delete $prefix to make it anew."
  fi
  flock -u 8
}

if [[ ${1:-} == --session ]]; then
  start_session
  exit 0
fi

arch=win32
if [[ ${1:-} == --win64 ]]; then
  arch=win64
  shift
fi
export WINEARCH=$arch
prefix=$1
shift
lock "$prefix"
[[ -f $prefix/.dunvelt-ready ]] || make_prefix "$prefix"
# A copy takes a second where making a prefix takes twenty; it is whole once it has its name. The
# prefix's lock keeps its session from writing to it meanwhile.
for copy in "$@"; do
  [[ -f $copy/.dunvelt-ready ]] && continue
  rm -rf "$copy" "$copy.partial"
  cp -a "$prefix" "$copy.partial"
  mv "$copy.partial" "$copy"
done
flock -u 8
