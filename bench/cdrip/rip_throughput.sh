#!/bin/sh
# Extraction throughput of the CD control on a virtual drive without
# delay: seconds of audio ripped per wall-clock second and CPU seconds per
# second of audio, with jitter correction off and on. Reference line: sox
# copying the same audio from WAV to WAV, the floor of any ripper.
#
# Usage: bench/cdrip/rip_throughput.sh [BUILD_DIR] [MINUTES]
# Not run by CI. Needs sox to make the disc; writes only to a temp folder.
set -eu

build=$(cd "${1:-build}" && pwd)
minutes=${2:-10}
cli="$build/bin/ondalo-cli"
[ -x "$cli" ] || { echo "no ondalo-cli in $build/bin" >&2; exit 2; }
command -v sox >/dev/null || { echo "sox is needed to make the disc" >&2; exit 2; }

work=$(mktemp -d)
export ONDALO_CONFIG_DIR=$work  # never the user's Option.ini
trap 'rm -rf "$work"' EXIT INT TERM
seconds=$((minutes * 60))
sox -n -r 44100 -c 2 -b 16 "$work/t1.wav" synth "$seconds" pinknoise vol 0.3
printf '[drive]\nvendor = BENCH\nproduct = Virtual CD\ntrack = t1.wav\n' >"$work/vcd.ini"
export KIV_ASPI_LIBRARY="$build/lib/vcdrive.so" KIV_VCD_CONFIG="$work/vcd.ini"

run() {  # label, command...
    label=$1
    shift
    rm -rf "$work/out" && mkdir "$work/out"
    # /usr/bin/time -f gives wall, user and system seconds.
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>&1 </dev/null
    read -r wall user sys <"$work/time"
    awk -v l="$label" -v a="$seconds" -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN {
        printf "%-28s %8.2f s wall %8.1fx real time %8.4f CPU s per audio s\n", l, w, a / (w > 0 ? w : 0.01), (u + s) / a }'
}

echo "$minutes minutes of audio from a virtual drive"
run "rip, jitter correction off" "$cli" rip --no-cddb --to wav --exists overwrite --dest "$work/out"
run "rip, jitter correction on" "$cli" rip --no-cddb --to wav --exists overwrite --jitter --dest "$work/out"
run "sox wav copy (reference)" sox "$work/t1.wav" "$work/out/copy.wav"
