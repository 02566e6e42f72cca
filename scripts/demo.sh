#!/usr/bin/env bash
# The main job: sets everything up, builds Ondalo, makes a demo recording and
# converts it with ondalo-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cli=$PWD/build/bin/ondalo-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out"
# Five seconds of a chord, CD quality.
sox -n -r 44100 -c 2 -b 16 "$work/demo.wav" synth 5 sine 440 sine 554 sine 659 gain -6
echo "== ondalo-cli convert --to wav --dest $work/out demo.wav"
"$cli" convert --to wav --dest "$work/out" "$work/demo.wav"
echo "== the copy's sample data:"
cmp <(sox "$work/demo.wav" -t raw -) <(sox "$work/out/demo.wav" -t raw -) && echo "identical to the source"
soxi "$work/out/demo.wav"
