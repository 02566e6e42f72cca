#!/usr/bin/env bash
# Ogg Vorbis speed, side by side with the reference tools on the same input:
#   ondalo-cli convert --to ogg (default quality 0.5)  vs  oggenc -q 5
#   ondalo-cli convert --to wav (Ogg source)           vs  oggdec
# Usage: bench/vorbis/bench.sh [BUILD_DIR] [SECONDS]
# BUILD_DIR defaults to ./build, SECONDS (length of the test file) to 300.
# Everything happens in a temporary folder with its own registry; nothing
# else is touched. Not run by CI: wall times depend on the machine. The
# decode is timed in turn with oggdec over several runs, with user and
# system time and the ratio (bench/common/compare.sh).
set -eu
source "$(cd "$(dirname "$0")/../.." && pwd)/bench/common/compare.sh"

build=$(cd "${1:-build}" && pwd)
seconds=${2:-300}
for tool in sox oggenc oggdec; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
for file in "$build/bin/ondalo-cli" "$build/bin/kivreg" "$build/lib/kivvorbis.so"; do
    [ -e "$file" ] || { echo "bench: $file is missing; build ondalo-cli, kivreg and kivvorbis first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ondalo-vorbis-bench-XXXXXX")
export ONDALO_CONFIG_DIR=$work  # never the user's Option.ini
trap 'rm -rf "$work"' EXIT INT TERM
export KIV_REGISTRY="$work/registry.reg"
"$build/bin/kivreg" "$build/lib/kivwave.so" "$build/lib/kivconv.so" "$build/lib/kivvorbis.so" >/dev/null

# Music-like material: two swept tones over pink noise, CD format.
sox -n -r 44100 -c 2 -b 16 "$work/source.wav" synth "$seconds" sine 200-2000 sine 3000-300 pinknoise \
    remix 1,3 2,3 vol 0.3
mkdir "$work/ours" "$work/ref" "$work/ours-wav" "$work/ref-wav"

# Wall time of a command in seconds, three decimals.
timed() {
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }'
}

enc_ours=$(timed "$build/bin/ondalo-cli" convert -q --default-quality --to ogg --dest "$work/ours" "$work/source.wav")
enc_ref=$(timed oggenc -Q -q 5 -o "$work/ref/source.ogg" "$work/source.wav")

size() { wc -c <"$1" | tr -d ' '; }
printf 'Input: %s s of 44100 Hz 16-bit stereo (%s bytes)\n' "$seconds" "$(size "$work/source.wav")"
printf '%-44s %8s s  %10s bytes\n' "encode: ondalo-cli convert --to ogg (q 0.5)" "$enc_ours" "$(size "$work/ours/source.ogg")"
printf '%-44s %8s s  %10s bytes\n' "encode: oggenc -q 5" "$enc_ref" "$(size "$work/ref/source.ogg")"
echo "decode (oggenc -q 5 file) to WAV:"
A=("$build/bin/ondalo-cli" convert -q --overwrite --to wav --dest "$work/ours-wav" "$work/ref/source.ogg")
B=(oggdec -Q -o "$work/ref-wav/source.wav" "$work/ref/source.ogg")
compare_pair "ondalo-cli convert --to wav" "oggdec"
