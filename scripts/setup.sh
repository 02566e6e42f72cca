#!/usr/bin/env bash
# Installs everything Ondalo needs to build, test and benchmark on Debian 12.
# Run as root (or through sudo). Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  libgtest-dev libgmock-dev
  libmp3lame-dev libmpg123-dev
  libvorbis-dev libogg-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  portaudio19-dev libasound2-dev
  # clang with its sanitizer and libFuzzer runtime, for the fuzz targets
  clang libclang-rt-14-dev
  # reference tools that the tests and benchmarks compare against
  lame mpg123 vorbis-tools ffmpeg sox
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
