#!/usr/bin/env bash
# The main job on a built-in sample: builds cap2flv and converts a small
# capture stream into demo.flv.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh release >/dev/null

# A 64x48 capture: header, an end record.
printf '\x40\x00\x00\x00\x30\x00\x00\x00\xff\x00\x00\x00\x00\x00\x00\x00\x00' \
  | build/release/cap2flv > demo.flv
echo "demo: wrote demo.flv ($(stat -c %s demo.flv) bytes)"
