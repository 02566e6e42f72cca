#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole suite twice: as built in
# Release (what packagers build, -O3, so its warnings are checked too), and
# again under AddressSanitizer and UndefinedBehaviorSanitizer in a Debug
# build, whose debug information serves the sanitizers' reports. Both
# builds treat warnings as errors (scripts/build.sh). Then builds the fuzz
# targets with clang and runs each once over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
ctest --test-dir build --output-on-failure -j"$(nproc)"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DONDALO_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions="$PWD/tests/sanitizer/lsan.supp" \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
bash scripts/fuzz.sh 0
