#!/usr/bin/env bash
# Configures and builds one flavour from scratch.
# Usage: scripts/build.sh release|sanitize
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
case "$flavour" in
  release) flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  sanitize) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCAP2FLV_SANITIZE=ON -DCAP2FLV_BENCH=OFF) ;;
  *) echo "usage: $0 release|sanitize" >&2; exit 2 ;;
esac

rm -rf "build/$flavour"
cmake -S . -B "build/$flavour" -G Ninja "${flags[@]}" >/dev/null
cmake --build "build/$flavour"
