#!/usr/bin/env bash
# MP3 sound against PCM passed through: bytes per second of sound in the
# FLV, and the CPU the encoder adds per second of sound (median of ROUNDS,
# default 5, runs interleaved; the difference between a run with
# --audio-codec mp3 and one without, on the same capture). The sound is 60 s
# of FFmpeg's pink noise mixed with a tone, the pictures 16x16 and blank.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh release >/dev/null

rounds=${ROUNDS:-5}
seconds=60
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=$PWD/build/release
cpu=$bin/bench/cpu_time

ffmpeg -v error -nostdin -f lavfi -i "anoisesrc=color=pink:amplitude=0.3:sample_rate=44100:duration=$seconds" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" -filter_complex amix=inputs=2 \
  -ac 2 -f s16le "$work/sound.raw"
ffmpeg -v error -nostdin -f lavfi -i "color=c=black:size=16x16:rate=25" -t "$seconds" -f rawvideo -pix_fmt 0rgb "$work/v.raw"
"$bin/capmux" --size 16x16 --fps 25 --video "$work/v.raw" --audio "$work/sound.raw" > "$work/cap"
# The same pictures alone: what the sound adds is the difference.
"$bin/capmux" --size 16x16 --fps 25 --video "$work/v.raw" | "$bin/cap2flv" -q > "$work/pictures.flv"
pictures=$(stat -c %s "$work/pictures.flv")

median() { sort -g "$1" | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
modes=(pcm mp3-64 mp3-128 mp3-320)
args=("" "--audio-codec mp3 --audio-bitrate 64" "--audio-codec mp3" "--audio-codec mp3 --audio-bitrate 320")
for ((r = 0; r < rounds; r++)); do
  for i in "${!modes[@]}"; do
    "$cpu" "'$bin/cap2flv' -q ${args[$i]} < '$work/cap' > '$work/${modes[$i]}.flv'" | awk '{print $1}' >> "$work/${modes[$i]}.cpu"
  done
done
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs); $seconds s of sound, medians of $rounds"
printf '  %-9s %16s %13s %20s\n' "sound" "bytes/s of sound" "against PCM" "encoder CPU per s"
pcm_size=$(($(stat -c %s "$work/pcm.flv") - pictures))
pcm_cpu=$(median "$work/pcm.cpu")
for m in "${modes[@]}"; do
  size=$(($(stat -c %s "$work/$m.flv") - pictures))
  c=$(median "$work/$m.cpu")
  awk -v m="$m" -v s="$size" -v p="$pcm_size" -v c="$c" -v pc="$pcm_cpu" -v t="$seconds" \
    'BEGIN {printf "  %-9s %16.0f %12.3fx %17.2f ms\n", m, s / t, s / p, (c - pc) / t * 1000}'
done
