#!/usr/bin/env bash
# WMA encoding and decoding speed of ondalo-cli beside ffmpeg, on the same
# 5-minute stereo 44.1 kHz file, in one run. Not part of the test suite.
#
#   bench/wma/wma_bench.sh [BUILD_DIR]     (default: build)
#
# Prints the wall time of each encoding; the decode is timed in turn with
# ffmpeg over several runs, with user and system time and the ratio
# (bench/common/compare.sh). Everything happens in a temporary folder with a
# registry of its own; nothing outside it is touched.
set -eu

here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/bench/common/compare.sh"
build=${1:-"$here/build"}
cli="$build/bin/ondalo-cli"
for tool in ffmpeg "$cli"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "missing: $tool" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ondalo-wma-bench-XXXXXX")
export ONDALO_CONFIG_DIR=$work  # never the user's Option.ini
trap 'rm -rf "$work"' EXIT
export KIV_REGISTRY="$work/registry.reg"
for m in kivwave kivconv kivwma9; do
    "$build/bin/kivreg" "$build/lib/$m.so" >/dev/null
done
mkdir -p "$work/ours" "$work/theirs" "$work/ours-wav" "$work/theirs-wav"

# Two tones and a little noise, so the encoder has something to work on.
ffmpeg -v error -y -f lavfi -i "sine=f=440:d=300:r=44100" -f lavfi -i "anoisesrc=d=300:r=44100:a=0.05" \
    -filter_complex "[0][1]amix=inputs=2,aformat=channel_layouts=stereo" -c:a pcm_s16le "$work/song.wav"

now() { date +%s.%N; }
run() {
    label=$1
    shift
    start=$(now)
    "$@" >/dev/null 2>&1
    end=$(now)
    printf '%-40s %6.2f s\n' "$label" "$(echo "$end - $start" | bc)"
}

echo "5 minutes, 44100 Hz stereo 16-bit"
run "encode: ondalo-cli --to wma --cbr 128" "$cli" convert -q --to wma --cbr 128 --dest "$work/ours" "$work/song.wav"
run "encode: ffmpeg -c:a wmav2 -b:a 128k" ffmpeg -v error -y -i "$work/song.wav" -c:a wmav2 -b:a 128k "$work/theirs/song.wma"
ls -l "$work/ours/song.wma" "$work/theirs/song.wma" | awk '{print "size: " $5 " " $NF}'

echo "decode (our WMA file) to WAV:"
A=("$cli" convert -q --overwrite --to wav --dest "$work/ours-wav" "$work/ours/song.wma")
B=(ffmpeg -v error -y -i "$work/ours/song.wma" "$work/theirs-wav/song.wav")
compare_pair "ondalo-cli convert --to wav" "ffmpeg to WAV"
