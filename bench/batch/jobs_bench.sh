#!/usr/bin/env bash
# Batch conversion to MP3 of 8 generated five-minute recordings, one file
# at a time and two at a time, side by side with lame doing the same work
# one after another and as two parallel processes. Both sides encode at
# CBR 128 kbit/s, so the work per file is the same.
#
# Goal: --jobs 2 at least 1.8 times faster than --jobs 1 (on a machine with
# two free cores), and within 5% of two parallel lame processes.
#
# Usage: bench/batch/jobs_bench.sh [BUILD_DIR]   (default: build)
# Not a test: nothing here is asserted, and CI does not run it.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
cli=$build/bin/ondalo-cli
for tool in sox lame; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "no ondalo-cli in $build/bin (build the tree first)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ondalo-jobs-bench-XXXXXX")
export ONDALO_CONFIG_DIR=$work  # never the user's Option.ini
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/in"

export KIV_REGISTRY=$work/registry.reg
"$build/bin/kivreg" --registry "$KIV_REGISTRY" "$build/lib/kivwave.so" "$build/lib/kivconv.so" \
    "$build/lib/kivmp3.so" >/dev/null

echo "generating 8 recordings of 5 minutes (44.1 kHz stereo) with sox ..."
for i in 1 2 3 4 5 6 7 8; do
    sox -n -r 44100 -c 2 -b 16 "$work/in/song$i.wav" synth 300 pinknoise synth 300 sine mix $((100 * i))-$((400 * i)) vol 0.4
done

seconds() { date +%s.%N; }
declare -A wall

run() {  # key, label, command...
    local key=$1 label=$2
    shift 2
    rm -rf "$work/out" && mkdir "$work/out"
    local start end
    start=$(seconds)
    "$@" >/dev/null 2>&1 </dev/null
    end=$(seconds)
    wall[$key]=$(echo "$end - $start" | bc)
    printf '%-46s %8.2f s\n' "$label" "${wall[$key]}"
}

lame_one_by_one() {
    for f in "$work"/in/*.wav; do lame --silent -b 128 "$f" "$work/out/$(basename "${f%.wav}").mp3"; done
}
lame_two_at_a_time() {
    ls "$work"/in/*.wav | xargs -P 2 -I{} sh -c 'lame --silent -b 128 "$1" "$2/$(basename "${1%.wav}").mp3"' _ {} "$work/out"
}

echo "cores: $(nproc)"
printf '%-46s %10s\n' "run" "wall"
run ours1 "ondalo-cli convert --to mp3 --cbr 128 --jobs 1" "$cli" convert -q --to mp3 --cbr 128 --jobs 1 --dest "$work/out" "$work/in"
run ours2 "ondalo-cli convert --to mp3 --cbr 128 --jobs 2" "$cli" convert -q --to mp3 --cbr 128 --jobs 2 --dest "$work/out" "$work/in"
run lame1 "lame -b 128, one after another" lame_one_by_one
run lame2 "lame -b 128, two at a time (xargs -P 2)" lame_two_at_a_time

echo
awk -v o1="${wall[ours1]}" -v o2="${wall[ours2]}" -v l2="${wall[lame2]}" 'BEGIN {
    printf "speed-up of --jobs 2 over --jobs 1: %.2fx (goal: 1.8x or more)\n", o1 / o2
    printf "--jobs 2 against two parallel lame: %+.1f%% (goal: within 5%%)\n", (o2 / l2 - 1) * 100 }'
