#!/usr/bin/env bash
# Start-up benchmark of build/Dunvelt.exe under Wine, run by hand. It compares the launcher with
# a program that makes the very same platform calls and nothing else (same_calls), and with one
# that only ends (floor), all started one after another in the same rounds so that noise falls
# on each of them alike. Where Wine runs under qemu-i386, which would time the emulator, it
# counts the instructions each program executes instead (bench/count.sh). See bench/README.md for
# what the figures mean.
#
#   RUNS=50 WARMUP=3 MEMORY_RUNS=5 SEED=1 bench/run.sh

# The commas in the compiler options below belong to the linker options they pass on.
# shellcheck disable=SC2054
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/bench"
build="$root/build"
out="$build/bench" # under build/, which git ignores
runs=${RUNS:-50}
warmup=${WARMUP:-3}
memory_runs=${MEMORY_RUNS:-5}
seed=${SEED:-1}

launcher="$build/Dunvelt.exe"
standin="$build/tests/wine/java-standin.exe"
resources="$build/Dunvelt.rc"
image_options="$build/image-link-options.txt"
for file in "$launcher" "$standin" "$resources" "$image_options"; do
  if [[ ! -f $file ]]; then
    echo "Missing $file: run scripts/build.sh first." >&2
    exit 1
  fi
done
for tool in i686-w64-mingw32-gcc i686-w64-mingw32-g++ i686-w64-mingw32-windres \
  i686-w64-mingw32-objcopy wine wineserver /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "Missing $tool: run scripts/build.sh first (and apt-get install time)." >&2
    exit 1
  }
done

# --- The programs ---------------------------------------------------------------------------
mkdir -p "$out"
# The win32 thread model, as the launcher's own build uses.
gcc=i686-w64-mingw32-gcc-win32 gxx=i686-w64-mingw32-g++-win32
command -v "$gcc" >/dev/null || gcc=i686-w64-mingw32-gcc
command -v "$gxx" >/dev/null || gxx=i686-w64-mingw32-g++
common=(-Os -Wall -Wextra -Werror -mwindows -fno-ident -s -Wl,--no-insert-timestamp)
# No C runtime: the image's entry point is entry() itself.
bare=(-nostdlib -nostartfiles -fno-asynchronous-unwind-tables -e _entry@0 -Wl,--gc-sections)
# The launcher's own image settings, as its build wrote them, so that the references pay what it
# pays for them.
mapfile -t image <"$image_options"
calls_libs=(-lole32 -lshell32 -luser32 -lkernel32)

echo "Building the benchmark programs in $out"
"$gcc" "${common[@]}" "${bare[@]}" -Wl,--disable-reloc-section "$bench/floor.c" -lkernel32 \
  -o "$out/floor.exe"
"$gcc" "${common[@]}" "${bare[@]}" "${image[@]}" "$bench/same_calls.c" "${calls_libs[@]}" \
  -o "$out/same_calls.exe"
# Floors that add, step by step, what the launcher has and same_calls has not, so that each
# step's cost shows against the floor's small and steady time: the C library's DLL, imported but
# unused; mingw-w64's ordinary start-up code, which uses it; that and the C++ libraries, linked
# as the launcher links them. And apart: the launcher's resources (manifest, icon, version).
"$gcc" "${common[@]}" "${bare[@]}" "${image[@]}" -DIMPORT_MSVCRT "$bench/floor.c" -lmsvcrt \
  -lkernel32 -o "$out/floor_msvcrt.exe"
"$gcc" "${common[@]}" -municode -DWITH_C_RUNTIME -static -static-libgcc "${image[@]}" \
  "$bench/floor.c" -o "$out/floor_crt.exe"
"$gxx" -std=c++17 "${common[@]}" -municode -static -static-libgcc -static-libstdc++ \
  "${image[@]}" "$bench/floor_cxx.cpp" -o "$out/floor_cxx.exe"
i686-w64-mingw32-windres -O coff "$resources" -o "$out/launcher-resources.o"
"$gcc" "${common[@]}" "${bare[@]}" "${image[@]}" "$bench/floor.c" "$out/launcher-resources.o" \
  -lkernel32 -o "$out/floor_rsrc.exe"
"$gcc" -std=c11 -O2 -Wall -Wextra -Werror -municode -s "$bench/startup_timer.c" -luser32 \
  -o "$out/startup_timer.exe"

# --- A sample distribution folder -----------------------------------------------------------
dist="$out/dist"
rm -rf "$dist"
mkdir -p "$dist/bin"
cp "$launcher" "$out"/same_calls.exe "$out"/floor.exe "$out"/floor_msvcrt.exe "$out"/floor_crt.exe \
  "$out"/floor_cxx.exe "$out"/floor_rsrc.exe "$dist/"
cp "$standin" "$dist/bin/java.exe"

# Under emulation every time would be the emulator's, not the launcher's: count instead.
if "$root/scripts/wine-route.sh" emulated "$build"; then
  exec "$bench/count.sh"
fi

# --- Wine: a prefix of our own and one server for the whole run ------------------------------
export WINEPREFIX="$out/wineprefix" WINEARCH=win32 WINEDEBUG=-all
unset DISPLAY
"$root/scripts/wine-prefix.sh" "$WINEPREFIX"
# A persistent server, so that no launch pays for starting one. -k ends the server of this prefix
# and everything it still runs, and nothing in any other prefix; it first clears what an
# interrupted run may have left, since -p refuses to start beside a running server.
stop_server() { if wineserver -k 2>/dev/null; then wineserver -w; fi; }
stop_server
# Another prefix's Wine (a test run, say) competes for the same cores and widens every spread.
if ps -eo stat=,comm= | awk '$1 !~ /^Z/ && $2 ~ /^wineserver/ { found = 1 } END { exit !found }'
then
  echo "Warning: another Wine server is running; the figures will be noisier." >&2
fi
wineserver -p
trap stop_server EXIT

windows_path() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
records() { find "$dist" -maxdepth 1 -name 'java-record-*.txt' | wc -l; }

declare -A program=(
  [launcher]=Dunvelt.exe [same_calls]=same_calls.exe [same_calls_again]=same_calls.exe
  [floor]=floor.exe [floor_again]=floor.exe [floor_msvcrt]=floor_msvcrt.exe
  [floor_crt]=floor_crt.exe [floor_cxx]=floor_cxx.exe [floor_rsrc]=floor_rsrc.exe)
declare -A starts_runtime=(
  [launcher]=1 [same_calls]=1 [same_calls_again]=1 [floor]=0 [floor_again]=0 [floor_msvcrt]=0
  [floor_crt]=0 [floor_cxx]=0 [floor_rsrc]=0)

# The processor time the host took from the machine running the benchmark (steal, in /proc/stat): on a virtual
# machine it is the noise that no interleaving can remove, only share out.
cpu_times() {
  awk '$1 == "cpu" { total = 0; for (i = 2; i <= NF; ++i) total += $i; print total, $9 }' \
    /proc/stat
}

declare -A stat ratio_of quiet steal
# Runs one timing pass: PASS, then RATIOS (space-separated A/B), then the labels. Its figures
# land in stat[PASS/LABEL/METRIC] and ratio_of[PASS/A/B/METRIC].
time_pass() {
  local pass=$1 ratio_list=$2 label entry ratio kind a b c d e f h low high
  shift 2
  local entries=() options=()
  for label in "$@"; do
    entry="$label=$(windows_path "$dist/${program[$label]}")"
    ((starts_runtime[$label])) && entry+="+runtime"
    entries+=("$entry")
  done
  for ratio in $ratio_list; do options+=(--ratio "$ratio"); done
  echo "Timing pass '$pass': $runs rounds (after $warmup warm-up rounds) of: $*"
  local total_before steal_before total_after steal_after
  read -r total_before steal_before < <(cpu_times)
  wine "$out/startup_timer.exe" --runs "$runs" --warmup "$warmup" --seed "$seed" \
    "${options[@]}" --raw "$(windows_path "$out/samples-$pass.tsv")" "$(windows_path "$dist")" \
    "${entries[@]}" | tr -d '\r' >"$out/timer-$pass.tsv"
  read -r total_after steal_after < <(cpu_times)
  steal[$pass]=$(awk -v s=$((steal_after - steal_before)) -v t=$((total_after - total_before)) \
    'BEGIN { printf "%.1f", (t > 0 ? 100 * s / t : 0) }')
  while IFS=$'\t' read -r kind a b c d e f _ _ h _ _ low high; do
    case $kind in
      quiet) quiet[$pass]="median wait $a ms, $b of $c launches started busy" ;;
      stat) stat[$pass/$a/$b]=$(printf '%s (%s–%s)' "$c" "$d" "$e") ;;
      ratio) ratio_of[$pass/$a/$b/$c]=$(printf '%s [%s–%s] (%s–%s), Δ %s ms' "$d" "$low" "$high" \
        "$e" "$f" "$h") ;;
    esac
  done <"$out/timer-$pass.tsv"
}

# --- (a) and (b): start-up times, interleaved -------------------------------------------------
# same_calls runs twice per round: the second is an A/A control whose ratio to the first shows
# how far two identical programs drift apart in this very run.
main_labels=(launcher same_calls same_calls_again floor)
main_ratios=(launcher/same_calls launcher/floor same_calls_again/same_calls same_calls/floor)
time_pass main "${main_ratios[*]}" "${main_labels[@]}"
# The floors on their own, where a millisecond stands out from a steady ~15 ms; again with an
# A/A control. Each step is compared with the one before it.
floor_labels=(floor floor_again floor_msvcrt floor_crt floor_cxx floor_rsrc)
floor_ratios=(floor_again/floor floor_msvcrt/floor floor_crt/floor_msvcrt floor_cxx/floor_crt
  floor_crt/floor floor_rsrc/floor)
time_pass floors "${floor_ratios[*]}" "${floor_labels[@]}"

# --- (c): peak memory, one process at a time --------------------------------------------------
# GNU time reports the largest resident set of the `wine X.exe` process, which becomes the
# Windows process itself; the hidden interpreter and the runtime are other processes and are not
# counted. Runs are interleaved like the timings.
memory_labels=(launcher same_calls floor floor_msvcrt floor_crt floor_cxx floor_rsrc)
declare -A peaks peak
echo "Measuring peak memory over $memory_runs rounds"
for ((round = 0; round < memory_runs; ++round)); do
  for label in "${memory_labels[@]}"; do
    # The stand-in names its record by process id, which Wine soon reuses: clear them first.
    rm -f "$dist"/java-record-*.txt
    (cd "$dist" && /usr/bin/time -f %M -o "$out/peak.txt" wine "${program[$label]}")
    peaks[$label]+="$(tail -n 1 "$out/peak.txt") "
    # Do not start the next program while this one's runtime has yet to start: wait for the
    # stand-in's record, within a bound.
    if ((starts_runtime[$label])); then
      for ((wait = 0; wait < 600 && $(records) == 0; ++wait)); do sleep 0.1; done
      (($(records) == 1)) || {
        echo "$label did not start the runtime" >&2
        exit 1
      }
    fi
  done
done
median() {
  tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END {
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
for label in "${memory_labels[@]}"; do peak[$label]=$(median <<<"${peaks[$label]}"); done
divide() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# --- (d): image sizes -------------------------------------------------------------------------
size() { stat -c %s "$1"; }
i686-w64-mingw32-objcopy --remove-section .rsrc "$launcher" "$out/Dunvelt-without-rsrc.exe"
declare -A bytes=(
  [launcher]="$(size "$launcher") ($(size "$out/Dunvelt-without-rsrc.exe") without .rsrc)"
  [same_calls]=$(size "$out/same_calls.exe") [floor]=$(size "$out/floor.exe")
  [floor_msvcrt]=$(size "$out/floor_msvcrt.exe")
  [floor_crt]=$(size "$out/floor_crt.exe") [floor_cxx]=$(size "$out/floor_cxx.exe")
  [floor_rsrc]=$(size "$out/floor_rsrc.exe"))

# --- The table --------------------------------------------------------------------------------
declare -A title=(
  [launcher]="Dunvelt.exe" [same_calls]="same_calls.exe"
  [same_calls_again]="same_calls.exe again (A/A control)" [floor]="floor.exe (only ExitProcess)"
  [floor_again]="floor.exe again (A/A control)"
  [floor_msvcrt]="floor + msvcrt.dll imported, unused"
  [floor_crt]="floor + mingw-w64 C runtime start-up (uses msvcrt.dll)"
  [floor_cxx]="floor + C runtime + static C++ libraries, linked as the launcher"
  [floor_rsrc]="floor + the launcher's resources")
cell() { echo "${1:-–}"; }
row() { # PASS LABEL
  local label=$2
  echo "| ${title[$label]}$([[ $1 == floors ]] && echo " *(floors pass)*") |" \
    "$(cell "${stat[$1/$label/exit]:-}") | $(cell "${stat[$1/$label/runtime]:-}") |" \
    "$(cell "${stat[$1/$label/settled]:-}") | $(cell "${peak[$label]:-}") |" \
    "$(cell "${bytes[$label]:-}") |"
}
ratio_row() { # PASS A/B
  local a=${2%/*} b=${2#*/} memory="–"
  [[ -n ${peak[$a]:-} && -n ${peak[$b]:-} ]] && memory=$(divide "${peak[$a]}" "${peak[$b]}")
  local name="${title[$a]%% (*} / ${title[$b]%% (*}"
  case $2 in
    launcher/same_calls | launcher/floor) name="**$name**" ;;
    *_again/*) name="**A/A: $name**" ;;
  esac
  echo "| $name | $(cell "${ratio_of[$1/$a/$b/exit]:-}") |" \
    "$(cell "${ratio_of[$1/$a/$b/runtime]:-}") | $(cell "${ratio_of[$1/$a/$b/settled]:-}") |" \
    "$memory | – |"
}

echo
echo "Wine $(wine --version | sed 's/^wine-//'), $(nproc) cores, $(date -u +%Y-%m-%d)." \
  "Two passes of $runs rounds each (after $warmup warm-up rounds), programs in shuffled order," \
  "each launch after a quiet window (main: ${quiet[main]:-}; floors: ${quiet[floors]:-})." \
  "Host steal: ${steal[main]} % (main), ${steal[floors]} % (floors) of processor time." \
  "Memory: median of $memory_runs."
echo "Times in ms: median (p10–p90). Ratios: median of the per-round ratios, [its 95 % interval" \
  "by bootstrap over the rounds] (p10–p90 of the per-round ratios), and Δ, the median of the" \
  "per-round differences. Memory ratios: of the medians."
echo
echo "| Program or ratio | (a) start → exit | (b) start → runtime started | start → all ended |" \
  "(c) peak RSS, KB (GNU time %M) | (d) size, bytes |"
echo "|---|---|---|---|---|---|"
for label in "${main_labels[@]}"; do row main "$label"; done
for label in "${floor_labels[@]}"; do row floors "$label"; done
for ratio in "${main_ratios[@]}"; do ratio_row main "$ratio"; done
for ratio in "${floor_ratios[@]}"; do ratio_row floors "$ratio"; done
echo
echo "Every sample: $out/samples-main.tsv, $out/samples-floors.tsv"
