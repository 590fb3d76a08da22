#!/usr/bin/env bash
# Fuzzes the whole filter through its real input path: AFL++ drives the
# binary, built with AFL++'s instrumentation, AddressSanitizer and
# UndefinedBehaviorSanitizer, on standard input, from the seeds in
# fuzz/corpus, the options chosen by the first two bytes of each input.
# Then every input the campaign kept (queue, crashes, hangs) is replayed and
# checked: exit status 0 or 1, one ERRO line at most and last,
# output accepted by the FLV verifier. Fails on any crash or broken rule.
#
# Usage: scripts/fuzz.sh [seconds]   (default 3600; the test suite runs 60)
# FUZZ_BUILD names the build folder (default build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-3600}
scripts/setup.sh afl++ clang

build=${FUZZ_BUILD:-build/fuzz}
scripts/build.sh fuzz "$build" >/dev/null

out=fuzz/findings/$(date +%Y%m%d-%H%M%S)
mkdir -p "$out/seeds"
# The fuzzing build reads its options from the first two input bytes: every
# seed goes in with the default (00 00), with three compact choices (level 1
# every other frame a key frame; level 1, 64-pixel blocks, key frame every
# 100, two workers; level 9, 256-pixel blocks, key every 3rd, three workers)
# and with MP3 sound (28 00).
for f in fuzz/corpus/*; do
  name=$(basename "$f")
  for prefix in 0000 0b00 1f12 1d2e 2800; do
    { printf "\\x${prefix:0:2}\\x${prefix:2:2}"; cat "$f"; } > "$out/seeds/$prefix-$name"
  done
done
echo "fuzz: $seconds s of AFL++ into $out" >&2
AFL_SKIP_CPUFREQ=1 AFL_NO_UI=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_AFFINITY=1 \
  ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1 \
  afl-fuzz -i "$out/seeds" -o "$out" -V "$seconds" -t 5000 -m none -- "$build/cap2flv" > "$out/afl.log" 2>&1 || {
  tail -20 "$out/afl.log" >&2
  exit 1
}

stats=$out/default/fuzzer_stats
grep -E '^(execs_done|execs_per_sec|corpus_count|saved_crashes|saved_hangs|run_time) ' "$stats" >&2
"$build/fuzz/fuzz_replay" "$out/seeds" "$out/default/queue" "$out/default/crashes" "$out/default/hangs"
crashes=$(grep '^saved_crashes' "$stats" | awk '{print $3}')
if [ "$crashes" != 0 ]; then
  echo "fuzz: $crashes crashing inputs in $out/default/crashes" >&2
  exit 1
fi
