#!/bin/sh
# Regenerates the two-frame test data in tests/data: for the synthetic pattern and for
# chelsea.jpg (frame A the classic conversion, frame B the best one), the two-frame executable
# and the two frames a cycle-exact emulation (64 KB 800XL, PAL, BASIC off) shows after 100 and
# 99 frames. Each capture must equal the view of its frame, byte for byte, or nothing is kept.
#   tools/capture-two-frames.sh [XEXSHOT]      (default ../shared/emulator/xexshot)
# BUILD_DIR chooses the build directory (default build).
set -eu
cd "$(dirname "$0")/.."
xexshot="${1:-../shared/emulator/xexshot}"
build="${BUILD_DIR:-build}"
cmake --build "$build" --target two_frame_files rastrel-zo9-cli >/dev/null
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
