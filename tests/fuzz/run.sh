#!/bin/sh
# Builds one fuzz target of the doctor's parsers with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, natively, and runs it for a bounded time:
#   run.sh SOURCE BUILD TARGET SECONDS
# TARGET is a file tests/fuzz/TARGET.cpp. The committed seeds in tests/fuzz/corpus/TARGET are
# only read; what the fuzzer finds goes to BUILD/fuzz/TARGET.corpus, and an input that crashes
# it to BUILD/fuzz/TARGET-crash-*, which fails the run.
set -eu
source=$1 build=$2 target=$3 seconds=$4
compiler=$(command -v clang++ || true)
if [ -z "$compiler" ]; then
  echo "clang++ not found: install the Debian packages clang and libclang-rt-14-dev" \
    "(scripts/install-deps.sh does it)"
  exit 1
fi
out=$build/fuzz
binary=$out/$target
mkdir -p "$out/$target.corpus"
# The parser each target drives, and the doctor's portable helpers it uses.
case $target in
  event_xml) topic=event_logs ;;
  zone_identifier) topic=mark_of_the_web ;;
  rule_list) topic=prevalence_rule ;;
  *) echo "There is no fuzz target $target"; exit 1 ;;
esac
doctor=$source/doctor
sources="$source/tests/fuzz/$target.cpp $doctor/guards/$topic.cpp $doctor/text.cpp
  $doctor/finding.cpp $doctor/facts_json.cpp $doctor/registry_value.cpp"
stale=false
if [ -x "$binary" ]; then
  for file in $sources "$doctor"/*.h "$doctor"/guards/*.h; do
    [ -z "$(find "$file" -newer "$binary")" ] || stale=true
  done
else
  stale=true
fi
if $stale; then
  # shellcheck disable=SC2086 # the list of sources, which hold no blanks of their own
  "$compiler" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined \
    -fno-sanitize-recover=undefined -I"$doctor" -I"$doctor/guards" -I"$source/launcher" \
    -isystem "$build/json-include" $sources -o "$binary.new" ||
    { echo "Building the fuzz target $target failed (clang++ and libclang-rt-14-dev)"; exit 1; }
  mv "$binary.new" "$binary"
fi
"$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$out/$target-" "$out/$target.corpus" "$source/tests/fuzz/corpus/$target"
