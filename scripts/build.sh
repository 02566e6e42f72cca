#!/usr/bin/env bash
# Configures and builds one build tree, with warnings as errors (a later
# -DONDALO_WERROR=OFF among the options turns that off).
# Usage: scripts/build.sh [DIR] [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" -DONDALO_WERROR=ON "$@"
cmake --build "$dir" -j"$(nproc)"
