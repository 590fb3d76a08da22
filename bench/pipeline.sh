#!/usr/bin/env bash
# Live-path benchmark at 1920x1080: builds Release, makes a screen-like
# capture from FFmpeg's testsrc2 (with a 440 Hz tone), and compares, in one
# run with the runs interleaved, the CPU time (user + system, every process
# of the command) of:
#   pipe:   cat capture | cap2flv | cat > /dev/null  against  cat capture | cat | cat > /dev/null
#   ffmpeg: ffmpeg's own flashsv encoder on the frames   against  cat capture | cap2flv > /dev/null
#   file:   cap2flv < capture > /dev/null                against  cat capture > /dev/null
# and the peak resident memory of cap2flv on 20 and on 100 frames.
# Prints medians and their ratios. FRAMES (default 100) and ROUNDS (default 11) tune it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh release >/dev/null

frames=${FRAMES:-100}
rounds=${ROUNDS:-11}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=$PWD/build/release
cpu=$bin/bench/cpu_time

make_capture() {  # frames -> $work/cap$1
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$1" -f rawvideo -pix_fmt 0rgb "$work/frames$1.raw"
  ffmpeg -v error -y -f lavfi -i "sine=frequency=440:sample_rate=44100" -t "$(($1 / 25 + 1))" -ac 2 -f s16le "$work/audio$1.raw"
  "$bin/capmux" --size 1920x1080 --fps 25 --video "$work/frames$1.raw" --audio "$work/audio$1.raw" > "$work/cap$1"
}
make_capture "$frames"
[ "$frames" = 20 ] || make_capture 20

cap=$work/cap$frames
names=(pipe_flv pipe_cat ffmpeg_flashsv flv_null flv_file cat_file)
cmds=(
  "cat '$cap' | '$bin/cap2flv' 2>/dev/null | cat > /dev/null"
  "cat '$cap' | cat | cat > /dev/null"
  "ffmpeg -v error -f rawvideo -pix_fmt 0rgb -s 1920x1080 -r 25 -i '$work/frames$frames.raw' -c:v flashsv -f flv - > /dev/null"
  "cat '$cap' | '$bin/cap2flv' 2>/dev/null > /dev/null"
  "'$bin/cap2flv' < '$cap' 2>/dev/null > /dev/null"
  "cat '$cap' > /dev/null"
)
for ((r = 0; r < rounds; r++)); do
  for i in "${!cmds[@]}"; do
    "$cpu" "${cmds[$i]}" | awk '{print $1}' >> "$work/${names[$i]}"
  done
done
median() { sort -g "$work/$1" | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
declare -A m
for n in "${names[@]}"; do m[$n]=$(median "$n"); done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

rss20=$("$cpu" "'$bin/cap2flv' < '$work/cap20' 2>/dev/null > /dev/null" | awk '{print $2}')
rss=$("$cpu" "'$bin/cap2flv' < '$cap' 2>/dev/null > /dev/null" | awk '{print $2}')

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), kernel $(uname -r)"
echo "capture: 1920x1080, $frames frames with sound, $(stat -c %s "$cap") bytes; medians of $rounds interleaved runs (CPU s)"
for n in "${names[@]}"; do printf '  %-15s %s\n' "$n" "${m[$n]}"; done
echo "pipe path   cap2flv / cat in the middle:    $(ratio "${m[pipe_flv]}" "${m[pipe_cat]}")x   (target <= 1, mark 0.7)"
echo "vs ffmpeg   ffmpeg flashsv / cap2flv:       $(ratio "${m[ffmpeg_flashsv]}" "${m[flv_null]}")x   (target >= 3, mark 5)"
echo "file        cap2flv / cat reading the file: $(ratio "${m[flv_file]}" "${m[cat_file]}")x   (target <= 6)"
echo "peak memory cap2flv: $((rss20 / 1024)) MiB at 20 frames, $((rss / 1024)) MiB at $frames frames ($rss20 KiB, $rss KiB)"
