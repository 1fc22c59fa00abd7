#!/bin/sh
# Regenerates the two-frame test data in tests/data: for the synthetic pattern and for
# chelsea.jpg (frame A the classic conversion, frame B the best one), the two-frame executable
# and the two frames a cycle-exact emulation (64 KB 800XL, PAL, BASIC off) shows after 100 and
# 99 frames; and the two frames it shows for chelsea.jpg and for a grey ramp converted with two
# frames at the default settings. Each capture must equal the view of its frame, byte for byte,
# or nothing is kept.
#   tools/capture-two-frames.sh [XEXSHOT]      (default ../shared/emulator/xexshot)
# BUILD_DIR chooses the build directory (default build).
set -eu
cd "$(dirname "$0")/.."
xexshot="${1:-../shared/emulator/xexshot}"
build="${BUILD_DIR:-build}"
cmake --build "$build" --target two_frame_files frame_flicker rastrel-zo9-cli >/dev/null
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

"$build/cli/rastrel-zo9-cli" -m classic --xex "$tmp/classic.xex" tests/data/chelsea.jpg
"$build/cli/rastrel-zo9-cli" -m best --xex "$tmp/best.xex" tests/data/chelsea.jpg
"$build/tools/two_frame_files" "$tmp/classic.xex" "$tmp/best.xex" "$tmp/twoframe-chelsea"
"$build/tools/two_frame_files" --pattern "$tmp/twoframe-pattern"

for name in pattern chelsea; do
    out="$tmp/twoframe-$name"
    "$xexshot" "$out.xex" 100 "$tmp/$name" >/dev/null
    # The program shows frame A in every even frame of this run, frame B in every odd one.
    if ! cmp -s "$tmp/$name.idx" "$out.a.screen" || ! cmp -s "$tmp/$name.prev.idx" "$out.b.screen"; then
        echo "$name: the captured frames differ from the frame views" >&2
        exit 1
    fi
    cp "$out.xex" "tests/data/twoframe-$name.xex"
    cp "$tmp/$name.idx" "tests/data/twoframe-$name.a.screen"
    cp "$tmp/$name.prev.idx" "tests/data/twoframe-$name.b.screen"
    echo "$name: both frames captured and equal to their views"
done

# Pictures converted with two frames (arranged so that no area flickers): the views of both
# frames as PNG files, compared with the captures through the stored palette.
# The grey ramp: 320 x 240, column x grey round(255 x / 319).
LC_ALL=C awk 'BEGIN { printf "P6\n320 240\n255\n";
    for (y = 0; y < 240; ++y) for (x = 0; x < 320; ++x) { v = int(x * 255 / 319 + 0.5); printf "%c%c%c", v, v, v } }' \
    >"$tmp/greyramp.ppm"
for picture in tests/data/chelsea.jpg:converted "$tmp/greyramp.ppm":greyramp; do
    input="${picture%%:*}"
    name="${picture##*:}"
    out="$tmp/converted-$name"
    "$build/cli/rastrel-zo9-cli" -q --frames 2 --xex "$out.xex" "$input"
    "$build/cli/rastrel-zo9-cli" -q --frames 2 -p atari-a --png "$out.a.png" "$input"
    "$build/cli/rastrel-zo9-cli" -q --frames 2 -p atari-b --png "$out.b.png" "$input"
    "$xexshot" "$out.xex" 100 "$out" >/dev/null
    figures="$("$build/tools/frame_flicker" "$out.idx" "$out.prev.idx" "$out.a.png" "$out.b.png")"
    case "$figures" in
    *"equal_A 76800/76800 equal_B 76800/76800")
        ;;
    *)
        echo "$name: the captured frames differ from the frame views: $figures" >&2
        exit 1
        ;;
    esac
    cp "$out.idx" "tests/data/twoframe-$name.a.screen"
    cp "$out.prev.idx" "tests/data/twoframe-$name.b.screen"
    echo "$name: both frames captured and equal to their views; $figures"
done
