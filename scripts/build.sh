#!/usr/bin/env bash
# Configures and builds one flavour from scratch.
# Usage: scripts/build.sh release|sanitize|fuzz [build folder, default build/FLAVOUR]
#   fuzz: AFL++'s compilers, both sanitizers, the fuzzing replay checker.
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
dir=${2:-build/$flavour}
case "$flavour" in
  release) flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  sanitize) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCAP2FLV_SANITIZE=ON -DCAP2FLV_BENCH=OFF) ;;
  fuzz)
    export CC=afl-clang-fast CXX=afl-clang-fast++ AFL_QUIET=1
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCAP2FLV_SANITIZE=ON -DCAP2FLV_TESTS=OFF -DCAP2FLV_BENCH=OFF
      -DCAP2FLV_FUZZ=ON)
    ;;
  *) echo "usage: $0 release|sanitize|fuzz [build folder]" >&2; exit 2 ;;
esac

rm -rf "$dir"
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir"
