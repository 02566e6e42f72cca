#!/usr/bin/env bash
# Renders the desktop program's windows to PNG files in docs/screenshots/:
# the start window, each page of the options dialog, each shipped skin, the
# tips, the about box and the help. The pictures come from the real windows
# (QWidget::grab) on Qt's offscreen platform, with settings in a temporary
# folder, so no display is needed and nobody's settings are touched.
# Usage: scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target ondalo-screenshots ondalo-data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config" docs/screenshots
ONDALO_CONFIG_DIR="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" \
  QT_QPA_PLATFORM=offscreen KIV_SOUND=null \
  "$build/bin/ondalo-screenshots" docs/screenshots 2> >(grep -v -e propagateSizeHints -e 'support raise' >&2)
