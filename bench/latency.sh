#!/usr/bin/env bash
# Live latency through the whole chain at 1920x1080, 25 fps, --compact:
# producer -> cap2flv -> ffmpeg publishing -> nginx RTMP -> ffmpeg playing.
# Prints median, 95th percentile and maximum from a frame leaving the
# producer to the player having decoded it, and the shares along the way.
# FRAMES (default 300) and WARMUP (default 50, left out as start-up) tune it;
# RTMP_LATENCY_PLAYER, RTMP_LATENCY_PUBLISHER, RTMP_LATENCY_PUBLISHER_OUT try
# other FFmpeg options; RTMP_LATENCY_DIRECT=1 feeds the player from a pipe
# instead, without publisher or server.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh release >/dev/null

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), kernel $(uname -r)"
build/release/bench/rtmp_latency "${FRAMES:-300}" "${WARMUP:-50}" --compact
