#!/usr/bin/env bash
# The user's wait, run by hand: from a double-click on Dunvelt.exe (as Explorer starts it) until
# the application's window is mapped, with the real JavaFX test application (tests/jvm) behind
# bin\java.exe. Beside it, in the same rounds, a double-click on the floor program, which starts
# the same runtime with the launcher's options itself (bench/floor_start.cpp), and the runtime
# started directly, so that what a double-click costs at least and what the launcher's chain adds
# to that (the shell, cmd.exe, its console) are ratios measured in one run. Each of the three
# starts on three runtime images of the host's JDK: without a class-data archive, with the JDK's
# own, and with an application archive named in the image's options. See bench/README.md, "The
# user's wait".
#
#   ROUNDS=15 WARMUP=1 SEED=1 bench/user-wait.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
out="$build/bench/wait" # under build/, which git ignores
rounds=${ROUNDS:-15}
warmup=${WARMUP:-1}
seed=${SEED:-1}

launcher="$build/Dunvelt.exe"
floor="$build/bench/floor-start.exe" # bench/floor_start.cpp
image_script="$build/tests/jvm/runtime-image.sh"
arguments_file="$build/tests/jvm/launch-arguments.txt"
for file in "$launcher" "$floor" "$image_script" "$arguments_file"; do
  if [[ ! -f $file ]]; then
    echo "Missing $file: run scripts/build.sh first (it needs a JDK and JavaFX)." >&2
    exit 1
  fi
done
for tool in wine wineserver Xvfb; do
  command -v "$tool" >/dev/null || {
    echo "Missing $tool: run scripts/install-deps.sh first." >&2
    exit 1
  }
done
read -r -a arguments <"$arguments_file"

mkdir -p "$out"
display_state="$out/xvfb"
/usr/bin/python3 "$root/tests/display/windows.py" xvfb-start "$display_state" >/dev/null
export DISPLAY WINEPREFIX="$out/wineprefix" WINEARCH=win32 WINEDEBUG=-all
DISPLAY=$(cat "$display_state/display")
stop() {
  if wineserver -k 2>/dev/null; then wineserver -w; fi
  /usr/bin/python3 "$root/tests/display/windows.py" xvfb-stop "$display_state"
}
trap stop EXIT

kinds=(none jdk app)
for kind in "${kinds[@]}"; do
  echo "Linking the runtime image '$kind' into $out/$kind"
  "$image_script" "$out/$kind" "$kind"
  cp "$launcher" "$floor" "$out/$kind/"
done
# Made with the display, as the starts will be: a prefix first started without one keeps drawing
# nowhere.
"$root/scripts/wine-route.sh" run "$build" "$root/scripts/wine-prefix.sh" "$WINEPREFIX"
# Another prefix's Wine, or another JVM, competes for the same cores and widens every spread.
if pgrep -x wineserver >/dev/null || pgrep -x wineserver64 >/dev/null; then
  echo "Warning: another Wine server is running; the figures will be noisier." >&2
fi

windows_path() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }
double_click() {
  printf 'wine rundll32.exe shell32.dll,ShellExec_RunDLL %q' "$(windows_path "$1")"
}
starts=()
ratios=()
for kind in "${kinds[@]}"; do
  folder="$out/$kind"
  # Dunvelt's chain, the floor program's (the same runtime started by CreateProcessW, with no
  # interpreter and no console), and the runtime alone.
  starts+=(--start "launcher-$kind" "$folder" "$(double_click "$folder/Dunvelt.exe")"
    --start "floor-$kind" "$folder" "$(double_click "$folder/floor-start.exe")"
    --start "direct-$kind" "$folder" "bin/java.exe ${arguments[*]}")
  ratios+=(--ratio "launcher-$kind/floor-$kind" --ratio "floor-$kind/direct-$kind"
    --ratio "launcher-$kind/direct-$kind")
done
# An A/A control: the same start twice a round, to show how far two alike drift apart in this run.
starts+=(--start direct-jdk-again "$out/jdk" "bin/java.exe ${arguments[*]}")
ratios+=(--ratio direct-jdk-again/direct-jdk --ratio direct-none/direct-jdk
  --ratio direct-app/direct-jdk --ratio direct-app/direct-none --ratio launcher-app/launcher-none
  --ratio floor-app/floor-none)

echo "Timing $rounds rounds (after $warmup warm-up rounds)"
route=$("$root/scripts/wine-route.sh" describe "$build")
"$root/scripts/wine-route.sh" run "$build" /usr/bin/python3 "$root/bench/user_wait.py" \
  --rounds "$rounds" --warmup "$warmup" --seed "$seed" --raw "$out/samples.tsv" \
  --keep-running "wine findstr.exe dunvelt" \
  --watch rundll32.exe --watch Dunvelt.exe --watch floor-start.exe --watch cmd.exe \
  --watch conhost.exe \
  --watch java.exe "${ratios[@]}" "${starts[@]}" >"$out/figures.tsv"

# --- The table ---------------------------------------------------------------------------------
java_version=$("$out/jdk/bin/java" -version 2>&1 | sed -n 2p)
echo
echo "$(date -u +%F), $(nproc) cores, Wine $(dpkg-query -W -f '${Version}' wine 2>/dev/null || echo '?')," \
  "$java_version," \
  "JavaFX $(dpkg-query -W -f '${Version}' libopenjfx-java 2>/dev/null || echo '?'); $route"
echo "$rounds rounds after $warmup warm-up, seed $seed."
echo
echo "| Start → the application's window mapped | median | p10–p90 | min–max |"
echo "|---|---|---|---|"
awk -F '\t' '$1 == "stat" { printf "| %s | %d ms | %d–%d ms | %d–%d ms |\n", $2, $3, $4, $5, $6, $7 }' \
  "$out/figures.tsv"
echo
echo "| A / B | median of the per-round ratios [95 % interval] (p10–p90) | median A − B [95 % interval] |"
echo "|---|---|---|"
awk -F '\t' '$1 == "ratio" {
  printf "| %s / %s | %.3f [%.3f–%.3f] (%.3f–%.3f) | %+d ms [%+d – %+d] |\n", $2, $3, $4, $5, $6, $7,
    $8, $9, $10, $11 }' "$out/figures.tsv"
# Per image, the chain taken apart: Wine's double-click floor is what a double-click and the start
# of any program add to the runtime's own start (floor − direct); what Dunvelt's chain adds to that
# floor is the launcher's design, the shell, cmd.exe and its console (Dunvelt − floor).
echo
echo "| Image | the runtime alone | Wine's double-click floor (floor − direct) | the floor program's chain | Dunvelt's chain | Dunvelt / floor [95 %] | Dunvelt − floor [95 %] |"
echo "|---|---|---|---|---|---|---|"
awk -F '\t' '
  $1 == "stat" { stat[$2] = $3 }
  $1 == "ratio" { ratio[$2 "/" $3] = sprintf("%.3f [%.3f–%.3f]", $4, $5, $6)
                  difference[$2 "/" $3] = sprintf("%+d ms [%+d – %+d]", $9, $10, $11) }
  END { n = split("none jdk app", kinds, " ")
        for (i = 1; i <= n; i++) { k = kinds[i]
          printf "| %s | %d ms | %s | %d ms | %d ms | %s | %s |\n", k, stat["direct-" k],
            difference["floor-" k "/direct-" k], stat["floor-" k], stat["launcher-" k],
            ratio["launcher-" k "/floor-" k], difference["launcher-" k "/floor-" k] } }' \
  "$out/figures.tsv"
