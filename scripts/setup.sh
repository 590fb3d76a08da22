#!/usr/bin/env bash
# Installs what building, testing and the demo need, if it is missing.
# Usage: scripts/setup.sh [extra Debian packages...]
set -euo pipefail

packages=(cmake ninja-build g++ zlib1g-dev libdeflate-dev libmp3lame-dev libgtest-dev libbenchmark-dev ffmpeg flvmeta dpkg-dev groff-base nginx libnginx-mod-rtmp "$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
