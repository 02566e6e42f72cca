#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole suite twice: as built, and
# again under AddressSanitizer and UndefinedBehaviorSanitizer; then builds
# the fuzz targets with clang and runs each once over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j"$(nproc)"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DONDALO_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
bash scripts/fuzz.sh 0
