#!/usr/bin/env bash
# The main job on a built-in sample: builds cap2flv and capmux, records five
# seconds of a synthetic screen with sound through the filter into demo.flv,
# and again with --compact into demo-compact.flv, prints a summary and,
# where FFmpeg is available, writes a thumbnail demo.png.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh release >/dev/null

# Level-0 Screen Video keeps 3 bytes a pixel: 640x360 keeps the file near 90 MB.
size=${DEMO_SIZE:-640x360}
log=$(mktemp)
cap=$(mktemp)
trap 'rm -f "$log" "$cap"' EXIT

build/release/capmux --size "$size" --fps 25 --seconds 5 > "$cap"
build/release/cap2flv < "$cap" > demo.flv 2> "$log"
build/release/cap2flv --compact -q < "$cap" > demo-compact.flv

frames=$(grep -c '^Video - ' "$log" || true)
sound=$(grep -c '^Audio - ' "$log" || true)
echo "demo.flv: $size, $frames frames, $sound audio tags, $(stat -c %s demo.flv) bytes"
echo "demo-compact.flv (--compact, same frames and sound): $(stat -c %s demo-compact.flv) bytes"
if command -v ffprobe >/dev/null; then
  echo "duration: $(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 demo.flv) s"
fi
if command -v ffmpeg >/dev/null; then
  ffmpeg -v error -y -ss 2 -i demo.flv -frames:v 1 demo.png
  echo "thumbnail: demo.png (frame at 2 s)"
fi
echo "play it with: ffplay demo.flv   (or mpv demo.flv, vlc demo.flv)"
