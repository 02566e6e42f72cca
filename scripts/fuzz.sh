#!/usr/bin/env bash
# Builds the fuzz targets (build-fuzz, clang, ONDALO_FUZZ) and runs each in
# turn for SECONDS (default 60), starting from its seed corpus in
# fuzz/<target>/corpus. New inputs collect in build-fuzz/corpus/<target>,
# crashes in build-fuzz/crashes/. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
# SECONDS=0 runs every target once over its seeds (a quick regression run).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
dir=build-fuzz

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DONDALO_FUZZ=ON -DONDALO_TESTS=OFF "${launcher[@]}"
cmake --build "$dir" --target fuzzers -j"$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for d in fuzz/*/corpus; do targets+=("$(basename "$(dirname "$d")")"); done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$dir/crashes"
for t in "${targets[@]}"; do
  echo "== $t"
  if [ "$seconds" -eq 0 ]; then
    "$dir/bin/fuzz_$t" -runs=0 "fuzz/$t/corpus"
  else
    mkdir -p "$dir/corpus/$t"
    "$dir/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/crashes/$t-" "$dir/corpus/$t" "fuzz/$t/corpus"
  fi
done
