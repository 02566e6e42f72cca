#!/usr/bin/env bash
# The main job: sets everything up, builds Ondalo, makes a demo recording,
# converts it into every format and back with ondalo-cli, and rips a
# generated virtual CD.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
cli=$PWD/build/bin/ondalo-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out" "$work/back" "$work/flacback" "$work/rip" "$work/tree/live"
# The demo's own settings folder: the user's Option.ini is not read.
export ONDALO_CONFIG_DIR=$work

# Five seconds of a chord, CD quality.
sox -n -r 44100 -c 2 -b 16 "$work/demo.wav" synth 5 sine 440 sine 554 sine 659 gain -6

echo "== WAVE to WAV: the copy keeps the sample data"
cp "$work/demo.wav" "$work/demo.wave"
"$cli" convert --to wav --dest "$work/out" "$work/demo.wave"
cmp <(sox "$work/demo.wav" -t raw -) <(sox "$work/out/demo.wav" -t raw -) && echo "identical to the source"
rm "$work/out/demo.wav"

echo "== WAV to FLAC (lossless, with ReplayGain values) and back, byte for byte"
"$cli" convert --to flac --replaygain --dest "$work/out" "$work/demo.wav"
metaflac --show-tag=REPLAYGAIN_TRACK_GAIN --show-tag=REPLAYGAIN_TRACK_PEAK "$work/out/demo.flac"
flac -s -t "$work/out/demo.flac" && echo "flac -t: the file and its MD5 signature are sound"
"$cli" convert --to wav --dest "$work/flacback" "$work/out/demo.flac"
cmp <(sox "$work/demo.wav" -t raw -) <(sox "$work/flacback/demo.wav" -t raw -) && echo "identical to the source"

echo "== WAV to MP3, Ogg Vorbis, WMA and Opus"
"$cli" convert --to mp3 --vbr 50 --dest "$work/out" "$work/demo.wav"
"$cli" convert --to ogg --dest "$work/out" "$work/demo.wav"
"$cli" convert --to wma --cbr 128 --dest "$work/out" "$work/demo.wav"
"$cli" convert --to opus --dest "$work/out" "$work/demo.wav"
for f in "$work"/out/demo.mp3 "$work"/out/demo.ogg "$work"/out/demo.wma "$work"/out/demo.opus; do
  ffprobe -v error -show_entries stream=codec_name,sample_rate,channels:format=duration -of compact "$f"
done

echo "== and back to WAV"
"$cli" convert --to wav --dest "$work/back" "$work/out/demo.mp3"
mv "$work/back/demo.wav" "$work/back/from-mp3.wav"
"$cli" convert --to wav --dest "$work/back" "$work/out/demo.ogg"
mv "$work/back/demo.wav" "$work/back/from-ogg.wav"
"$cli" convert --to wav --dest "$work/back" "$work/out/demo.wma"
mv "$work/back/demo.wav" "$work/back/from-wma.wav"
"$cli" convert --to wav --dest "$work/back" "$work/out/demo.opus"
mv "$work/back/demo.wav" "$work/back/from-opus.wav"
for f in "$work"/back/*.wav; do echo "$(basename "$f"): $(soxi -D "$f") s"; done

echo "== a folder tree of mixed formats to Ogg Vorbis beside the sources, two at a time"
cp "$work/out/demo.mp3" "$work/tree/a.mp3"
cp "$work/out/demo.wma" "$work/tree/live/b.wma"
cp "$work/demo.wav" "$work/tree/live/c.wav"
"$cli" convert --to ogg --same-folder --recursive --jobs 2 "$work/tree"
find "$work/tree" -name '*.ogg' | sort

echo "== rip a virtual CD of two tracks"
sox -n -r 44100 -c 2 -b 16 "$work/t1.wav" synth 3 sine 440
sox -n -r 44100 -c 2 -b 16 "$work/t2.wav" synth 2 sine 660
printf '[drive]\ntrack = %s\ntrack = %s\n' "$work/t1.wav" "$work/t2.wav" > "$work/vcd.ini"
export KIV_ASPI_LIBRARY=$PWD/build/lib/vcdrive.so KIV_VCD_CONFIG=$work/vcd.ini
"$cli" drives
"$cli" toc
"$cli" rip --no-cddb --to mp3 --dest "$work/rip"
ls -l "$work/rip"
