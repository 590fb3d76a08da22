#!/usr/bin/env bash
# Fuzzes the whole filter through its real input path: AFL++ drives the
# binary, built with AFL++'s instrumentation, AddressSanitizer and
# UndefinedBehaviorSanitizer, on standard input, from the seeds in
# fuzz/corpus. Then every input the campaign kept (queue, crashes, hangs) is
# replayed and checked: exit status 0 or 1, one ERRO line at most and last,
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
mkdir -p "$out"
echo "fuzz: $seconds s of AFL++ into $out" >&2
AFL_SKIP_CPUFREQ=1 AFL_NO_UI=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_AFFINITY=1 \
  ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1 \
  afl-fuzz -i fuzz/corpus -o "$out" -V "$seconds" -t 5000 -m none -- "$build/cap2flv" > "$out/afl.log" 2>&1 || {
  tail -20 "$out/afl.log" >&2
  exit 1
}

stats=$out/default/fuzzer_stats
grep -E '^(execs_done|execs_per_sec|corpus_count|saved_crashes|saved_hangs|run_time) ' "$stats" >&2
"$build/fuzz/fuzz_replay" fuzz/corpus "$out/default/queue" "$out/default/crashes" "$out/default/hangs"
crashes=$(grep '^saved_crashes' "$stats" | awk '{print $3}')
if [ "$crashes" != 0 ]; then
  echo "fuzz: $crashes crashing inputs in $out/default/crashes" >&2
  exit 1
fi
