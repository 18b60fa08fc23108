#!/usr/bin/env bash
# Counts the x86 instructions each benchmark program executes under Wine, start to exit: in its
# own image, and in its whole process (every DLL and Wine itself). Where Wine runs under
# qemu-i386, times would be the emulator's; instruction counts are the program's own, and the
# same from run to run. bench/run.sh calls it there, after it has built the programs and the
# distribution folder build/bench/dist. See bench/README.md for what the figures mean.
#
#   bench/count.sh                      about a minute for each program that starts cmd.exe
#   PROCESS_COUNTS=0 bench/count.sh     image counts only, a few seconds a program
#
# Writes build/bench/instructions.tsv and prints a Markdown table.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
out="$build/bench"
dist="$out/dist"
programs=(Dunvelt.exe same_calls.exe floor.exe floor_msvcrt.exe floor_crt.exe floor_cxx.exe
  floor_rsrc.exe)
process_counts=${PROCESS_COUNTS:-1}

# qemu-i386 does the counting, so this runs only where Wine runs under it, inside the private
# namespace that wine-route.sh sets up for it.
if [[ ${1:-} != --inside ]]; then
  if ! "$root/scripts/wine-route.sh" emulated "$build"; then
    echo "bench/count.sh: Wine runs natively here, without qemu-i386, which does the counting." >&2
    exit 1
  fi
  # What else the folder holds counts too: Wine reads the folder when it looks for a DLL there.
  if [[ $(find "$dist" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort) != \
    "$(printf '%s\n' "${programs[@]}" bin | sort)" ]]; then
    echo "$dist should hold the programs and bin\\ alone: run bench/run.sh, which makes it." >&2
    exit 1
  fi
  # A fixed environment, since Wine and the C runtime copy it at start-up: the counts must not
  # depend on the caller's.
  exec env -i HOME="$HOME" PATH=/usr/bin:/bin LANG=C.UTF-8 PROCESS_COUNTS="$process_counts" \
    "$root/scripts/wine-route.sh" run "$build" "$0" --inside
fi
shopt -s inherit_errexit
cd "$out"

export WINEPREFIX="$out/wineprefix" WINEARCH=win32 WINEDEBUG=-all
"$root/scripts/wine-prefix.sh" "$WINEPREFIX"

# qemu writes its log to a file named by the process id. Every process of a launch inherits the
# logging with the environment, so the logs go to a small file system of their own, where the
# ones not counted (the interpreter's and its console's) soon fill it; qemu carries on when a log
# write fails. The counted program's log name leads to a larger one: about 1 GB for the launcher.
logs=$(mktemp -d)
mount -t tmpfs -o size=1m tmpfs "$logs"
mkdir "$logs/counted"
mount -t tmpfs -o size=8g tmpfs "$logs/counted"
aside=0
clean_up() {
  if ((aside)); then mv "$out/bin-aside" "$dist/bin"; fi
  stop_server
  exec 7>&-
  umount "$logs/counted" "$logs"
  rm -r "$logs"
}
trap clean_up EXIT

# One server for the whole run, and a command interpreter that waits for input, so that Wine's
# desktop and services come up before the first count and stay up: no counted launch starts or
# ends them.
stop_server() { if wineserver -k 2>/dev/null; then wineserver -w; fi; }
stop_server
wineserver -p
mkfifo "$logs/holder"
exec 7<>"$logs/holder"
wine cmd.exe <&7 >"$logs/holder.txt" 2>&1 &
echo "echo dunvelt-ready" >&7
for ((wait = 0; wait < 1200; ++wait)); do
  grep -q dunvelt-ready "$logs/holder.txt" && break
  sleep 0.1
done
grep -q dunvelt-ready "$logs/holder.txt" || {
  echo "Wine's command interpreter did not start within 120 s." >&2
  exit 1
}

# Without bin\ the interpreter finds no runtime and ends: the runtime would be a process of its
# own, counted in neither figure.
rm -rf "$out/bin-aside"
mv "$dist/bin" "$out/bin-aside"
aside=1

# Ends the processes that the counted program left running, found by their log settings; fails
# when there was none.
end_launched() {
  local process found=1
  for process in /proc/[0-9]*; do
    if grep -qzx "QEMU_LOG_FILENAME=$logs/%d.log" "$process/environ" 2>/dev/null; then
      kill -KILL "${process#/proc/}" 2>/dev/null || true
      found=0
    fi
  done
  return $found
}

# qemu logs each block of instructions it translates (in_asm) and each block it executes (exec;
# with nochain every execution, not only those qemu does not jump into straight from the block
# before). Each execution counts its block's instructions; those of blocks inside the image also
# count for the image. Addresses are compared as 8-digit hexadecimal text.
# shellcheck disable=SC2016 # the fields are awk's
counter='
  /^Trace / { pc = substr($0, index($0, "[") + 18, 8); n = size[pc]; total += n
              if (pc >= low && pc < high) image += n; next }
  /^IN:/ { block = 1; n = 0; next }
  block && /^0x/ { if (n++ == 0) start = substr($1, 3, 8); next }
  block { size[start] = n; block = 0 }
  END { print image + 0, total + 0 }'

# Runs PROGRAM once in the distribution folder and prints "IMAGE PROCESS", its two counts; with
# PROCESS_COUNTS=0, only its image's blocks are logged and PROCESS is "-".
count() {
  local program=$1 base bytes
  read -r base bytes < <(i686-w64-mingw32-objdump -p "$dist/$program" |
    awk '$1 == "ImageBase" { base = $2 } $1 == "SizeOfImage" { bytes = $2 }
      END { print base, bytes }')
  local low high
  low=$(printf '%08x' $((16#$base))) high=$(printf '%08x' $((16#$base + 16#$bytes)))
  rm -f "$logs"/*.log "$logs/go"
  mkfifo "$logs/go"
  # The log is named by the process id, known only once the process is forked: it waits for its
  # log's name to be in place before it becomes the program.
  (
    exec 7>&-
    read -r _ <"$logs/go"
    cd "$dist"
    export QEMU_LOG=in_asm,exec,nochain QEMU_LOG_FILENAME="$logs/%d.log"
    if ((process_counts == 0)); then export QEMU_DFILTER="0x$low+0x$bytes"; fi
    exec wine "$program"
  ) &
  local pid=$!
  # Wine's loader starts itself again once, for the address space layout it needs, and qemu
  # starts the log afresh then: the log ends up holding that second start and all that follows.
  ln -s counted/log "$logs/$pid.log"
  echo >"$logs/go"
  local status=0
  wait "$pid" || status=$?
  ((status == 0)) || {
    echo "$program ended with $status" >&2
    return 1
  }
  # What it started, slowed down by the logging, is ended, so that each count starts alike.
  local round
  for ((round = 0; round < 100; ++round)); do
    end_launched || break
    sleep 0.1
  done
  [[ $(df --output=avail "$logs/counted" | tail -n 1) -gt 0 ]] || {
    echo "The log of $program did not fit into $logs/counted." >&2
    return 1
  }
  local image total
  read -r image total < <(mawk -v low="$low" -v high="$high" "$counter" "$logs/counted/log")
  rm "$logs/counted/log"
  ((image > 0)) || {
    echo "No instruction of $program's image was counted: was it loaded elsewhere than at" \
      "0x$base?" >&2
    return 1
  }
  ((process_counts)) || total=-
  echo "$image $total"
}

declare -A in_image in_process
for program in "${programs[@]}"; do
  start=$SECONDS
  counts=$(count "$program")
  read -r "in_image[$program]" "in_process[$program]" <<<"$counts"
  echo "$program: ${in_image[$program]} in its image, ${in_process[$program]} in its process" \
    "($((SECONDS - start)) s)"
done

table="$out/instructions.tsv"
printf 'program\timage_instructions\tprocess_instructions\n' >"$table"
for program in "${programs[@]}"; do
  printf '%s\t%s\t%s\n' "$program" "${in_image[$program]}" "${in_process[$program]}" >>"$table"
done

cell() { echo "${1/#-/–}"; }
ratio() { # A B, both counts of the same kind
  if [[ $1 == - || $2 == - ]]; then echo –; else
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'
  fi
}
qemu_version=$("$build/wine-route/qemu-i386" --version | sed -n '1s/^qemu-i386 version //p')
echo
echo "Instructions executed, start to exit, in $dist (no bin\\java.exe), under qemu-i386" \
  "$qemu_version, Wine $(wine --version | sed 's/^wine-//'), $(date -u +%Y-%m-%d). Also in $table."
echo
echo "| Program | In its image | / same_calls | In its whole process | / same_calls |"
echo "|---|---|---|---|---|"
for program in "${programs[@]}"; do
  image=${in_image[$program]} process=${in_process[$program]}
  echo "| $program | $image | $(ratio "$image" "${in_image[same_calls.exe]}") |" \
    "$(cell "$process") | $(ratio "$process" "${in_process[same_calls.exe]}") |"
done
