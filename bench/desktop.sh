#!/usr/bin/env bash
# Compact recording against FFmpeg's own Screen Video encoder, on a real X11
# desktop: Xvfb at 1920x1080 with xterm windows printing text, top and a
# clock. Records FRAMES (default 100) frames at 25 fps once with FFmpeg's
# x11grab, then, in one run with the runs interleaved (medians of ROUNDS,
# default 5), compares output bytes and CPU (user + system, every process) of
#   cap2flv --compact --keyint 12   against   ffmpeg -c:v flashsv -g 12
# on the same frames, and checks that FFmpeg decodes ours bit-exactly.
# Then: full-motion 1080p (FFmpeg's mandelbrot, every block changes every
# frame) at --level 1, wall time against real time; and peak resident
# memory of cap2flv at 1080p and 3840x2160, 20 and 200 frames, for several
# option sets.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh xvfb xterm x11-apps
scripts/build.sh release >/dev/null

frames=${FRAMES:-100}
rounds=${ROUNDS:-5}
work=$(mktemp -d)
bin=$PWD/build/release
cpu=$bin/bench/cpu_time
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A display nobody uses.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=:$display
{
  xterm -geometry 120x35+0+0 -e sh -c 'while :; do ls -l /usr/bin | head -40; date; sleep 0.1; done' &
  pids+=($!)
  xterm -geometry 100x30+960+0 -e top -d 0.5 &
  pids+=($!)
  xterm -geometry 120x25+0+560 -e sh -c 'i=0; while :; do i=$((i+1)); echo "line $i: $(date +%T.%N) the quick brown fox"; sleep 0.05; done' &
  pids+=($!)
  xclock -update 1 -geometry 300x300+1500+700 &
  pids+=($!)
} 2>/dev/null
sleep 3

raw=$work/desktop.raw
ffmpeg -v error -nostdin -f x11grab -framerate 25 -video_size 1920x1080 -i "$DISPLAY.0" -frames:v "$frames" \
  -f rawvideo -pix_fmt 0rgb -y "$raw"
"$bin/capmux" --size 1920x1080 --fps 25 --video "$raw" > "$work/desktop.cap"
# The desktop's programs would compete for the cores during the measurements.
for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
pids=()

names=(cap2flv ffmpeg)
cmds=(
  "'$bin/cap2flv' -q --compact --keyint 12 < '$work/desktop.cap' > '$work/ours.flv'"
  "ffmpeg -v error -nostdin -f rawvideo -pix_fmt 0rgb -s 1920x1080 -r 25 -i '$raw' -c:v flashsv -g 12 -f flv -y '$work/ffmpeg.flv'"
)
for ((r = 0; r < rounds; r++)); do
  for i in "${!cmds[@]}"; do "$cpu" "${cmds[$i]}" | awk '{print $1}' >> "$work/${names[$i]}"; done
done
median() { sort -g "$1" | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
ours_cpu=$(median "$work/cap2flv")
ff_cpu=$(median "$work/ffmpeg")
ours_size=$(stat -c %s "$work/ours.flv")
ff_size=$(stat -c %s "$work/ffmpeg.flv")
"$bin/cap2flv" -q --compact < "$work/desktop.cap" > "$work/preset.flv"
decoded=$(ffmpeg -v error -i "$work/ours.flv" -f rawvideo -pix_fmt bgr24 -fps_mode passthrough - | md5sum)
source=$(ffmpeg -v error -f rawvideo -pix_fmt 0rgb -s 1920x1080 -i "$raw" -f rawvideo -pix_fmt bgr24 - | md5sum)
[ "$decoded" = "$source" ] && exact=yes || exact=NO

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), kernel $(uname -r)"
echo "desktop: Xvfb 1920x1080, 3 xterms (ls, top, a printing loop) and xclock, $frames frames at 25 fps;"
echo "         medians of $rounds interleaved runs"
printf '  %-34s %12s %10s\n' "" "bytes" "CPU s"
printf '  %-34s %12s %10s\n' "cap2flv --compact --keyint 12" "$ours_size" "$ours_cpu"
printf '  %-34s %12s %10s\n' "ffmpeg -c:v flashsv -g 12" "$ff_size" "$ff_cpu"
echo "  size  cap2flv / ffmpeg: $(ratio "$ours_size" "$ff_size")x   (goal < 1)"
echo "  CPU   ffmpeg / cap2flv: $(ratio "$ff_cpu" "$ours_cpu")x   (goal >= 3, mark 5)"
echo "  bit-exact through FFmpeg: $exact;  cap2flv --compact (key frame every 100): $(stat -c %s "$work/preset.flv") bytes"

# Full motion: every block changes in every frame.
rm -f "$raw" "$work/desktop.cap"
ffmpeg -v error -nostdin -f lavfi -i "mandelbrot=size=1920x1080:rate=25" -frames:v 100 -f rawvideo -pix_fmt 0rgb -y "$work/m.raw"
"$bin/capmux" --size 1920x1080 --fps 25 --video "$work/m.raw" > "$work/m.cap"
rm -f "$work/m.raw"
for ((r = 0; r < rounds; r++)); do
  s=$(date +%s.%N)
  "$bin/cap2flv" -q --level 1 < "$work/m.cap" > /dev/null
  e=$(date +%s.%N)
  awk -v s="$s" -v e="$e" 'BEGIN {print e - s}' >> "$work/mwall"
done
mwall=$(median "$work/mwall")
echo "full motion: mandelbrot 1920x1080, 100 frames (4.0 s at 25 fps), --level 1, $(nproc) cores:"
echo "  wall $mwall s median of $rounds = $(awk -v w="$mwall" 'BEGIN {printf "%.1f", 100 / w}') frames/s (keeps up when >= 25)"
rm -f "$work/m.cap"

# Peak memory of cap2flv alone, fed live by FFmpeg and capmux.
echo "peak resident memory of cap2flv (MiB), testsrc2 frames:"
printf '  %-44s %10s %10s\n' "" "20 frames" "200 frames"
for size in 1920x1080 3840x2160; do
  for opts in "--compact" "--level 1 --block 16" "--level 0 --block 256 --keyint 2"; do
    line=""
    for n in 20 200; do
      ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=$size:rate=25" -frames:v "$n" -f rawvideo -pix_fmt 0rgb - \
        | "$bin/capmux" --size "$size" --fps 25 --video - \
        | /usr/bin/time -f %M -o "$work/rss" "$bin/cap2flv" -q $opts > /dev/null
      line="$line $(awk '{printf "%10.1f", $1 / 1024}' "$work/rss")"
    done
    printf '  %-44s%s\n' "$size $opts" "$line"
  done
done
