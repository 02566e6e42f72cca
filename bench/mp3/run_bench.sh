#!/usr/bin/env bash
# MP3 encoding and decoding through ondalo-cli side by side with the field's
# own tools, on one generated 5-minute 44.1 kHz stereo file:
#   default mode (VBR 0.5)  vs  lame --preset standard
#   --cbr 128               vs  lame -b 128
#   MP3 -> WAV              vs  mpg123 -w
# Prints wall time and peak resident memory (VmHWM of the process, sampled
# from /proc while it runs; GNU time is used instead when it is installed)
# of the encoders, and for the decoder the median wall, user and system time
# of several runs in turn with mpg123, with the ratio (bench/common/compare.sh).
#
# Usage: bench/mp3/run_bench.sh [BUILD_DIR]   (default: build)
# Not a test: nothing here is asserted, and CI does not run it.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/bench/common/compare.sh"
build=${1:-$root/build}
cli=$build/bin/ondalo-cli
for tool in sox lame mpg123; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
[ -x "$cli" ] || { echo "no ondalo-cli in $build/bin (build the tree first)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ondalo-mp3-bench-XXXXXX")
export ONDALO_CONFIG_DIR=$work  # never the user's Option.ini
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out"

# The CLI finds the modules through a registry; a private one keeps the
# user's registry untouched.
export KIV_REGISTRY=$work/registry.reg
"$build/bin/kivreg" --registry "$KIV_REGISTRY" "$build/lib/kivwave.so" "$build/lib/kivconv.so" \
    "$build/lib/kivmp3.so" >/dev/null

echo "generating 5 minutes of 44.1 kHz stereo with sox ..."
# Pink noise under a slow sweep: a signal the psychoacoustic model has to
# work on, unlike silence or a pure tone.
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 300 pinknoise synth 300 sine mix 220-880 vol 0.4

# Runs a command, prints "label  wall  peak".
run() {
    local label=$1
    shift
    local peak_kb=0 start end
    start=$(date +%s.%N)
    if command -v /usr/bin/time >/dev/null 2>&1; then
        /usr/bin/time -f "%M" -o "$work/peak" "$@" >/dev/null 2>&1
        peak_kb=$(tail -n 1 "$work/peak")
    else
        "$@" >/dev/null 2>&1 &
        local pid=$! hwm
        while kill -0 "$pid" 2>/dev/null; do
            hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
            [ -n "$hwm" ] && [ "$hwm" -gt "$peak_kb" ] && peak_kb=$hwm
            sleep 0.02
        done
        wait "$pid"
    fi
    end=$(date +%s.%N)
    printf '%-44s %8.2f s %9d KiB\n' "$label" "$(echo "$end - $start" | bc)" "$peak_kb"
}

printf '%-44s %10s %13s\n' "run" "wall" "peak RSS"
run "ondalo-cli convert --to mp3 (VBR 0.5)" "$cli" convert -q --overwrite --default-quality --to mp3 --dest "$work/out" "$work/in.wav"
mv "$work/out/in.mp3" "$work/ondalo-vbr.mp3"
run "lame --preset standard" lame --silent --preset standard "$work/in.wav" "$work/lame-vbr.mp3"
run "ondalo-cli convert --to mp3 --cbr 128" "$cli" convert -q --overwrite --to mp3 --cbr 128 --dest "$work/out" "$work/in.wav"
mv "$work/out/in.mp3" "$work/ondalo-cbr.mp3"
run "lame -b 128" lame --silent -b 128 "$work/in.wav" "$work/lame-cbr.mp3"
cp "$work/lame-cbr.mp3" "$work/dec.mp3"

echo
echo "MP3 decode (lame -b 128 file) to WAV:"
A=("$cli" convert -q --overwrite --to wav --dest "$work/out" "$work/dec.mp3")
B=(mpg123 -q -w "$work/mpg123.wav" "$work/dec.mp3")
compare_pair "ondalo-cli convert --to wav" "mpg123 -w"

echo
printf 'sizes: ondalo VBR %d, lame VBR %d, ondalo CBR %d, lame CBR %d bytes\n' \
    "$(stat -c %s "$work/ondalo-vbr.mp3")" "$(stat -c %s "$work/lame-vbr.mp3")" \
    "$(stat -c %s "$work/ondalo-cbr.mp3")" "$(stat -c %s "$work/lame-cbr.mp3")"
