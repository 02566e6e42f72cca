#!/usr/bin/env bash
# FLAC and Opus speed, side by side with the reference tools on the same
# input, each pair timed in turn over several runs (bench/common/compare.sh):
#   ondalo-cli convert --to flac (level 5)      vs  flac -5
#   the same with ReplayGain values measured    vs  flac -5 --replay-gain
#   ondalo-cli convert --to opus --cbr 128      vs  opusenc --bitrate 128 --hard-cbr
#   ondalo-cli convert --to opus --abr 128      vs  opusenc --bitrate 128
#   ondalo-cli convert --to wav (FLAC source)   vs  flac -d
#   the FLAC encode and decode again on 96 kHz 24-bit stereo (kept lossless)
#   ondalo-cli convert --to wav (Opus source)   vs  opusdec
# Usage: bench/flacopus/bench.sh [BUILD_DIR] [SECONDS]
# BUILD_DIR defaults to ./build, SECONDS (length of the test file) to 300.
# Everything happens in a temporary folder with its own registry and
# settings; nothing else is touched. Not run by CI.
set -eu
source "$(cd "$(dirname "$0")/../.." && pwd)/bench/common/compare.sh"

build=$(cd "${1:-build}" && pwd)
seconds=${2:-300}
for tool in sox flac opusenc opusdec; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
for file in "$build/bin/ondalo-cli" "$build/bin/kivreg" "$build/lib/kivflac.so" "$build/lib/kivopus.so"; do
    [ -e "$file" ] || { echo "bench: $file is missing; build ondalo-cli, kivreg, kivflac and kivopus first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ondalo-flacopus-bench-XXXXXX")
export ONDALO_CONFIG_DIR=$work  # never the user's Option.ini
trap 'rm -rf "$work"' EXIT INT TERM
export KIV_REGISTRY="$work/registry.reg"
"$build/bin/kivreg" "$build/lib/kivwave.so" "$build/lib/kivconv.so" "$build/lib/kivflac.so" \
    "$build/lib/kivopus.so" >/dev/null

# Music-like material: two swept tones over pink noise, CD format.
sox -n -r 44100 -c 2 -b 16 "$work/source.wav" synth "$seconds" sine 200-2000 sine 3000-300 pinknoise \
    remix 1,3 2,3 vol 0.3
mkdir -p "$work/ours" "$work/ref" "$work/ours-wav" "$work/ref-wav"
size() { wc -c <"$1" | tr -d ' '; }
cli=("$build/bin/ondalo-cli" convert -q --overwrite)
printf 'Input: %s s of 44100 Hz 16-bit stereo (%s bytes)\n' "$seconds" "$(size "$work/source.wav")"

echo "encode to FLAC (level 5):"
A=("${cli[@]}" --default-quality --to flac --dest "$work/ours" "$work/source.wav")
B=(flac -s -f -5 -o "$work/ref/source.flac" "$work/source.wav")
compare_pair "ondalo-cli convert --to flac" "flac -5"
printf '  sizes: ours %s bytes, flac %s bytes\n' "$(size "$work/ours/source.flac")" "$(size "$work/ref/source.flac")"

echo "encode to FLAC (level 5) measuring ReplayGain:"
A=("${cli[@]}" --default-quality --replaygain --to flac --dest "$work/ours" "$work/source.wav")
B=(flac -s -f -5 --replay-gain -o "$work/ref/source.flac" "$work/source.wav")
compare_pair "ondalo-cli convert --to flac --replaygain" "flac -5 --replay-gain"

echo "encode to Opus, 128 kbit/s constant:"
A=("${cli[@]}" --cbr 128 --to opus --dest "$work/ours" "$work/source.wav")
B=(opusenc --quiet --bitrate 128 --hard-cbr "$work/source.wav" "$work/ref/source.opus")
compare_pair "ondalo-cli convert --to opus --cbr 128" "opusenc --bitrate 128 --hard-cbr"

echo "encode to Opus, 128 kbit/s average (VBR):"
A=("${cli[@]}" --abr 128 --to opus --dest "$work/ours" "$work/source.wav")
B=(opusenc --quiet --bitrate 128 "$work/source.wav" "$work/ref/source.opus")
compare_pair "ondalo-cli convert --to opus --abr 128" "opusenc --bitrate 128"
printf '  sizes: ours %s bytes, opusenc %s bytes\n' "$(size "$work/ours/source.opus")" "$(size "$work/ref/source.opus")"

echo "decode (flac -5 file) to WAV:"
A=("${cli[@]}" --to wav --dest "$work/ours-wav" "$work/ref/source.flac")
B=(flac -s -f -d -o "$work/ref-wav/source.wav" "$work/ref/source.flac")
compare_pair "ondalo-cli convert --to wav" "flac -d"

# Deep PCM stays deep: 96 kHz 24-bit in, the same out (half the length).
sox "$work/source.wav" -r 96000 -b 24 "$work/deep.wav" trim 0 "$((seconds / 2))"
printf 'Input: %s s of 96000 Hz 24-bit stereo (%s bytes)\n' "$((seconds / 2))" "$(size "$work/deep.wav")"
echo "encode 96 kHz 24-bit to FLAC (level 5):"
A=("${cli[@]}" --default-quality --to flac --dest "$work/ours" "$work/deep.wav")
B=(flac -s -f -5 -o "$work/ref/deep.flac" "$work/deep.wav")
compare_pair "ondalo-cli convert --to flac" "flac -5"
printf '  sizes: ours %s bytes, flac %s bytes\n' "$(size "$work/ours/deep.flac")" "$(size "$work/ref/deep.flac")"
echo "decode (flac -5 file, 96 kHz 24-bit) to WAV:"
A=("${cli[@]}" --to wav --dest "$work/ours-wav" "$work/ref/deep.flac")
B=(flac -s -f -d -o "$work/ref-wav/deep.wav" "$work/ref/deep.flac")
compare_pair "ondalo-cli convert --to wav" "flac -d"

echo "decode (opusenc file) to WAV:"
A=("${cli[@]}" --to wav --dest "$work/ours-wav" "$work/ref/source.opus")
B=(opusdec --quiet "$work/ref/source.opus" "$work/ref-wav/source.wav")
compare_pair "ondalo-cli convert --to wav" "opusdec"
