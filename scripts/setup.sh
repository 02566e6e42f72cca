#!/usr/bin/env bash
# Installs everything Ondalo needs to build, test and benchmark on Debian 12.
# Run as root (or through sudo). Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  libgtest-dev libgmock-dev
  libmp3lame-dev libmpg123-dev
  libvorbis-dev libogg-dev
  libcurl4-openssl-dev
  # disc ids and the JSON answers of MusicBrainz
  libdiscid-dev nlohmann-json3-dev
  zlib1g-dev
  # FLAC and Opus; loudness (ReplayGain)
  libflac-dev libopusenc-dev libopusfile-dev libopus-dev libebur128-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  portaudio19-dev libasound2-dev
  # the desktop program: Qt 6 Widgets and SVG pictures; fonts for the
  # offscreen platform of its tests and screenshots
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins fonts-dejavu-core xdg-user-dirs
  # clang with its sanitizer and libFuzzer runtime, for the fuzz targets
  clang libclang-rt-14-dev
  # reference tools that the tests and benchmarks compare against
  lame mpg123 vorbis-tools ffmpeg sox flac opus-tools
  # manual pages, and the checks of the desktop files and the package
  help2man groff-base desktop-file-utils appstream libxml2-utils dpkg-dev file
  # a tagger for tags the reference tools do not write (APEv2)
  python3-mutagen
  # readers of the conversion log the desktop program saves (RTF) and prints (PDF)
  unrtf poppler-utils
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
