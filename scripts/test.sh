#!/usr/bin/env bash
# The whole test suite, as CI runs it: installs what is missing, builds
# Release and runs the suite, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs it again, then fuzzes the filter for a
# minute and checks every input the fuzzer kept.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc)

scripts/build.sh release
(cd build/release && ctest --output-on-failure -j "$jobs")

scripts/build.sh sanitize
(cd build/sanitize && ctest --output-on-failure -j "$jobs")

FUZZ_BUILD=build/fuzz-ci scripts/fuzz.sh 60
