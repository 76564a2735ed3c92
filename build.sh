#!/usr/bin/env bash
# Vantro Davavivi: install what is missing, build, and run or test.
#
#   ./build.sh run [FILE...]   convert the files (or a generated sample clip)
#   ./build.sh gui [FILE...]   open the window (with the files listed)
#   ./build.sh test            build and run every test
#   ./build.sh asan            build with AddressSanitizer + UBSan and run every test
#   ./build.sh fuzz [SECONDS [TARGET]]  build the fuzz targets with clang and run each
#   ./build.sh bench [NAME [ARG...]]    build and run bench/NAME (default: cinepak_footage)
#
# Debian 12, as root: missing packages are installed with apt-get.
set -euo pipefail
cd "$(dirname "$0")"

# libpalm-pdb-perl: an independent Palm database reader the tests compare with.
# ffmpeg: the tool makes the tests' media files and is the benchmarks' peer.
# libcli11-dev: the command line's options; nlohmann-json3-dev: presets as JSON
# files and the command line's --json reports; qt6-base-dev: the window;
# qt6-multimedia-dev: the player's sound.
PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libpalm-pdb-perl
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
    libcli11-dev nlohmann-json3-dev qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev)
# For the tests only: a real FAT card image (made by mkfs.fat, mounted where
# the machine allows it) to convert onto.
TEST_PACKAGES=(dosfstools)
# For the benchmarks only: photographs (installed in /usr/share/backgrounds)
# that the Cinepak benchmark makes its real footage from.
BENCH_PACKAGES=(lomiri-wallpapers-16.04)

install_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    if ((${#missing[@]} > 0)); then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [[ $(id -u) -ne 0 ]] && sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

build() { # build folder, extra cmake arguments...
    local folder=$1
    shift
    cmake -S . -B "$folder" -G Ninja "$@" >/dev/null
    cmake --build "$folder"
}

# A few valid inputs to start each fuzzer from.
write_seeds() { # target, corpus folder
    case "$1" in
    fuzz_atoms)
        # root 'sean' { 'soun' { 'ssrt' 8192.0 }, 'name' "Test" }
        printf '\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x59sean\0\0\0\x01\0\0\0\x02\0\0\0\0%b%b%b' \
            '\0\0\0\x2csoun\0\0\0\x01\0\0\0\x01\0\0\0\0' \
            '\0\0\0\x18ssrt\0\0\0\x01\0\0\0\0\0\0\0\0\x20\0\0\0' \
            '\0\0\0\x19name\0\0\0\x01\0\0\0\0\0\0\0\0\x04Test' > "$2/seed-settings"
        ;;
    fuzz_inspect)
        build-fuzz/tests/fuzz/seed_movies "$2"
        # Real conversions of a tiny clip with chapters and metadata, in
        # every picture and sound format.
        local work
        work=$(mktemp -d)
        printf ';FFMETADATA1\ntitle=Seed\ncomment=About\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=300\ntitle=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=300\nEND=600\ntitle=Two\n' > "$work/chapters.txt"
        ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=64x48:rate=10:duration=0.6 \
            -f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.6 -i "$work/chapters.txt" \
            -map 0:v -map 1:a -map_metadata 2 -map_chapters 2 -c:v mpeg4 -c:a pcm_s16le "$work/clip.mov"
        local n=0
        for video in color grays none; do
            for sound in adpcm adpcm4 uncompressed "uncompressed --channels 2" yamaha clie "clie --channels 2"; do
                n=$((n + 1))
                VANTRO_CONFIG_DIR="$work/config" build-fuzz/cli/vantro convert "$work/clip.mov" --out "$work" \
                    --name "seed$n" --size 64x48 --video "$video" --sound $sound >/dev/null 2>&1 || true
            done
        done
        cp "$work"/seed*.pdb "$2/" 2>/dev/null || true
        rm -rf "$work"
        ;;
    fuzz_presets)
        # A preference file with settings of the last exit and user presets.
        local work
        work=$(mktemp -d)
        VANTRO_CONFIG_DIR="$work" build-fuzz/cli/vantro presets save "Holiday" --from "Tungsten T3" >/dev/null
        VANTRO_CONFIG_DIR="$work" build-fuzz/cli/vantro presets save "Commute" --from "m500" >/dev/null
        cp "$work/VTRP" "$2/seed-VTRP"
        rm -rf "$work"
        ;;
    fuzz_mounts)
        # A mount table with a card, a bind mount and an escaped name; J-Pilot's user.
        printf '%s\n' '22 27 0:21 / /proc rw,relatime - proc proc rw' \
            '36 25 8:17 / /media/anna/PALM\040CARD rw,nosuid shared:7 - vfat /dev/sdb1 rw' \
            '37 25 8:17 /Palm /mnt/palm rw - vfat /dev/sdb1 rw' > "$2/seed-mountinfo"
        printf 'port usb:\nuser Anna Smith\nuser_id 4711\n' > "$2/seed-jpilotrc"
        ;;
    fuzz_presetjson)
        # A user preset's file, every field given, and a short one.
        printf '%s\n' '{"format": "vantro-preset", "version": 1, "name": "Holiday", "basedOn": "Tungsten T3",
  "customised": true, "video": {"format": "color", "fps": 7.5, "kbps": 640, "width": 480, "height": 320, "angle": 90},
  "sound": {"format": "uncompressed", "rate": 22050, "channels": 2, "bitRate": 33000, "boost": 1},
  "device": {"screenWidth": 480, "screenHeight": 320, "maker": "Palm", "osVersion": "5.2", "controlsUpright": true,
  "formats": ["adpcm", "adpcm4", "uncompressed", "yamaha", "clie"], "maxChannels": 2}}' > "$2/seed-full.json"
        printf '%s\n' '{"format": "vantro-preset", "version": 1, "name": "Walk", "video": {"fps": "best"},
  "sound": {"format": "clie", "bitRate": 47000}, "device": {"maker": 3, "osVersion": 84934656}}' > "$2/seed-short.json"
        ;;
    fuzz_cinepak)
        # A 16 × 16 test picture at a middling rate.
        { printf '\x03\x03\0\0\x10\0'
          ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=16x16 -frames:v 1 -f rawvideo -pix_fmt bgra -; } > "$2/seed-picture"
        ;;
    fuzz_import)
        # An MPEG-1 system stream and an AVI with MP3 sound, small.
        ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=64x48:rate=25:duration=0.3 \
            -f lavfi -i sine=frequency=440:sample_rate=32000:duration=0.3 -c:v mpeg1video -c:a mp2 -f mpeg "$2/seed.mpg"
        ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=64x48:rate=10:duration=0.3 \
            -f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.3 -c:v mjpeg -c:a libmp3lame "$2/seed.avi"
        ;;
    esac
}

command=${1:-run}
shift || true
case "$command" in
run)
    install_packages "${PACKAGES[@]}"
    build build
    ./build/cli/vantro "$@"
    ;;
gui)
    install_packages "${PACKAGES[@]}"
    build build
    ./build/ui/vantro-davavivi "$@"
    ;;
test)
    install_packages "${PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    build build
    ctest --test-dir build --output-on-failure -j"$(nproc)"
    ;;
asan)
    install_packages "${PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DVANTRO_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
    ;;
fuzz)
    install_packages "${PACKAGES[@]}" clang
    seconds=${1:-60}
    build build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTRO_FUZZ=ON -DVANTRO_SANITIZE=ON
    only=${2:-}
    for target in build-fuzz/tests/fuzz/fuzz_*; do
        [[ -z $only || $(basename "$target") == "$only" || $(basename "$target") == "fuzz_$only" ]] || continue
        [[ -x $target ]] || continue
        corpus="build-fuzz/corpus/$(basename "$target")"
        mkdir -p "$corpus"
        write_seeds "$(basename "$target")" "$corpus"
        "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus"
    done
    ;;
bench)
    install_packages "${PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
    name=${1:-cinepak_footage}
    shift || true
    cmake -S . -B build -G Ninja >/dev/null
    cmake --build build --target "bench_$name"
    "./build/bench/bench_$name" "$@"
    ;;
*)
    echo "usage: $0 run [FILE...] | gui [FILE...] | test | asan | fuzz [SECONDS [TARGET]] | bench [NAME [ARG...]]" >&2
    exit 2
    ;;
esac
