#!/usr/bin/env bash
# Opens the real window under a virtual X server, lets it convert one
# generated clip (a click on "Convert Files", then "OK" in the naming
# dialog) and takes screenshots of the screen: the Files tab once it is
# done, the Audio & Video tab (OUT-audio-video.png), the Layout tab
# (OUT-layout.png), the converted movie's player (OUT-player.png), and "Choose Palm User" for the HotSync destination with
# a J-Pilot user and a queue-folder user (OUT-hotsync.png).
#
#   tools/window-screenshot.sh VANTRO-DAVAVIVI OUT.png [WORK_FOLDER]
#
# Needs xvfb, xdotool and imagemagick (apt-get install xvfb xdotool imagemagick).
set -euo pipefail
window=$(realpath "$1")
out=$(realpath -m "$2")
work=${3:-$(mktemp -d)}
mkdir -p "$work"
clip="$work/Holiday_at_the_lake.mp4"
[[ -f $clip ]] || ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25:duration=6 \
    -f lavfi -i sine=frequency=440:sample_rate=44100:duration=6 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest "$clip"
mkdir -p "$work/.jpilot" "$work/data/vantro-davavivi/hotsync/Bob/install" "$work/data/vantro-davavivi/hotsync/Bob/card"
printf 'user Anna\n' > "$work/.jpilot/jpilot.rc"
export VANTRO_CONFIG_DIR="$work/config" VANTRO_NO_SPLASH=1 WINDOW="$window" OUT="$out" CLIP="$clip" \
    JPILOT_HOME="$work" XDG_DATA_HOME="$work/data"
xvfb-run -a -s "-screen 0 900x640x24" bash -c '
    "$WINDOW" "$CLIP" &
    pid=$!
    id=$(xdotool search --sync --name "Vantro Davavivi 2.0" | head -1)
    sleep 1
    xdotool windowmove "$id" 0 0 windowsize "$id" 900 640
    # "Convert Files", bottom right; then "OK" of the naming dialog.
    xdotool mousemove 840 617 click 1
    dialog=$(xdotool search --sync --name "Specify Vantro Name" | head -1)
    xdotool windowfocus "$dialog" key Return
    sleep 5
    import -window root "$OUT"
    xdotool mousemove 116 80 click 1
    sleep 1
    import -window root "${OUT%.png}-audio-video.png"
    xdotool mousemove 203 80 click 1
    sleep 1
    import -window root "${OUT%.png}-layout.png"
    # The converted row double-clicked: its player, played for a while and paused.
    xdotool mousemove 36 80 click 1
    xdotool mousemove 300 140 click --repeat 2 --delay 80 1
    player=$(xdotool search --sync --name "Holiday at the lake.pdb" | head -1)
    xdotool windowfocus "$player" key space
    sleep 2.5
    xdotool key space
    sleep 0.5
    import -window root "${OUT%.png}-player.png"
    xdotool key Escape
    # The destination popup: "HotSync...", then the user and target dialog.
    xdotool mousemove 36 80 click 1
    xdotool mousemove 190 49 click 1
    sleep 1
    xdotool key Down Return
    xdotool search --sync --name "Choose Palm User" >/dev/null
    sleep 1
    import -window root "${OUT%.png}-hotsync.png"
    kill $pid'
echo "$out"
