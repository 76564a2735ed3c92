#!/usr/bin/env bash
# Converts a fixed set of sources with ten device presets and prints one
# digest per database, with the header's two dates blanked (they are the
# time of the conversion). Run it with the vantro of two builds and compare
# the listings: a change meant to leave every output byte as it was must
# print the same lines.
#
#   tools/output-digests.sh VANTRO [WORK_FOLDER]
set -euo pipefail
vantro=$(realpath "$1")
work=${2:-$(mktemp -d)}
mkdir -p "$work/in"
cd "$work"

make_source() { # name, ffmpeg arguments...
    local name=$1
    shift
    [[ -f in/$name ]] || ffmpeg -nostdin -y -loglevel error "$@" "in/$name"
}
make_source colour.mp4 -f lavfi -i testsrc2=size=320x240:rate=30:duration=4 \
    -f lavfi -i sine=frequency=440:sample_rate=44100:duration=4 -c:v libx264 -pix_fmt yuv420p -g 30 -c:a aac -shortest
make_source motion.mkv -f lavfi -i mandelbrot=size=640x480:rate=25 -t 3 \
    -f lavfi -i sine=frequency=660:sample_rate=48000:duration=3 -c:v mpeg4 -q:v 3 -c:a pcm_s16le -shortest
make_source still.png -f lavfi -i testsrc=size=200x150 -frames:v 1
make_source tone.wav -f lavfi -i sine=frequency=1000:sample_rate=22050:duration=3 -ac 2
make_source clip.mpg -f lavfi -i testsrc2=size=352x240:rate=25:duration=2 \
    -f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -c:v mpeg1video -c:a mp2 -f mpeg

presets=("All color Palm OS devices" "All gray Palm OS devices" "All Palm OS 5 devices" "All widescreen devices"
    "Tungsten T3" "m500" "PEG-T650C/T665C/T675C" "Zire 71" "Treo 600" "High bit rate")
config=$(mktemp -d)
for preset in "${presets[@]}"; do
    out="out/${preset//\//_}"
    rm -rf "$out"
    mkdir -p "$out"
    VANTRO_CONFIG_DIR="$config" "$vantro" convert in --out "$out" --preset "$preset" >/dev/null 2>&1 || true
    for db in "$out"/*.pdb; do
        digest=$(python3 -c 'import sys,hashlib; b=bytearray(open(sys.argv[1],"rb").read()); b[36:44]=bytes(8); print(hashlib.sha256(b).hexdigest()[:16])' "$db")
        printf '%s | %s | %s\n' "$preset" "$(basename "$db")" "$digest"
    done
done
rm -rf "$config"
