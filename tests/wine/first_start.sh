#!/usr/bin/env bash
# Starts four Wine programs at once on a fresh prefix, ten times over, through the route as every
# test does: each must end, with its own exit code, within a bound, and none may wait for a session
# that another left half started. Prints each round's times.
#   first_start.sh SOURCE BUILD SCRATCH
set -uo pipefail
source=$1 build=$2 scratch=$3
route="$source/scripts/wine-route.sh"
rounds=10 programs=4
# A round makes a prefix, about 10 s natively and 60 s emulated on two busy cores; a start that
# waits on a hung wineboot waits five minutes.
bound=180
export WINEARCH=win32 WINEDEBUG=-all DISPLAY=
rm -rf "$scratch"
mkdir -p "$scratch"

# Ends the session of PREFIX, in the route's namespace where Wine runs emulated.
end_session() {
  # shellcheck disable=SC2016 # the inner shell expands its own arguments
  env -u WINEPREFIX "$route" run "$build" sh -c 'WINEPREFIX=$1 wineserver -k; WINEPREFIX=$1 wineserver -w' \
    sh "$1" >/dev/null 2>&1
}

failures=0
for round in $(seq "$rounds"); do
  prefix="$scratch/prefix-$round"
  started=$(date +%s.%N)
  pids=()
  for program in $(seq "$programs"); do
    (
      WINEPREFIX=$prefix timeout -k 10 "$bound" "$route" run "$build" wine cmd.exe /c exit "$((program + 40))" \
        >"$prefix.$program.log" 2>&1
      echo "$? $(date +%s.%N)" >"$prefix.$program.end"
    ) &
    pids+=($!)
  done
  wait "${pids[@]}"
  times=()
  for program in $(seq "$programs"); do
    read -r status ended <"$prefix.$program.end"
    times+=("$(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.1f", b - a }')")
    if [[ $status -ne $((program + 40)) ]]; then
      echo "FAILED: round $round, program $program ended with $status, not $((program + 40)), after ${times[-1]} s:"
      cat "$prefix.$program.log"
      failures=$((failures + 1))
    fi
  done
  echo "round $round: the four programs ended after ${times[*]} s (bound $bound s)"
  end_session "$prefix"
  rm -rf "$prefix" "$prefix".*
  [[ $failures -eq 0 ]] || break
done
[[ $failures -eq 0 ]] && echo "ok: $rounds rounds of $programs programs at once on a fresh prefix"
exit $((failures > 0))
