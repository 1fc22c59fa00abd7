#!/bin/sh
# Regenerates the captures of tests/data that the PAL view test compares with: for chelsea, coffee and
# rocket, the executables the converter writes by the classic method, the best one and two frames, on
# the plain display and for a PAL TV, run for 100 frames in a cycle-exact emulation (64 KB 800XL,
# PAL, BASIC off). A one-frame picture must show the same last two frames, a two-frame one two
# different frames (the last is A); tst_palview then checks every frame against the program's view.
# Captures that other tests already keep (rocket's classic, chelsea's two frames) are compared with
# those instead of written.
#   tools/capture-pal-views.sh [XEXSHOT]      (default ../shared/emulator/xexshot)
# BUILD_DIR chooses the build directory (default build).
set -eu
cd "$(dirname "$0")/.."
xexshot="${1:-../shared/emulator/xexshot}"
build="${BUILD_DIR:-build}"
cmake --build "$build" --target rastrel-zo9-cli >/dev/null
cli="$build/cli/rastrel-zo9-cli"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

compress() {
    python3 -c 'import sys, struct, zlib; d = open(sys.argv[1], "rb").read(); open(sys.argv[2], "wb").write(struct.pack(">I", len(d)) + zlib.compress(d, 9))' "$1" "$2"
}

for photo in chelsea coffee rocket; do
    for variant in classic best palbest two paltwo; do
        case $variant in
            classic) options="-m classic" ;;
            best) options="-m best" ;;
            palbest) options="-m best --display pal" ;;
            two) options="--frames 2" ;;
            paltwo) options="--frames 2 --display pal" ;;
        esac
        name="$photo-$variant"
        # shellcheck disable=SC2086
        "$cli" $options --xex "$tmp/$name.xex" "tests/data/$photo.jpg"
        "$xexshot" "$tmp/$name.xex" 100 "$tmp/$name" >/dev/null
        case $variant in
            two|paltwo)
                if cmp -s "$tmp/$name.idx" "$tmp/$name.prev.idx"; then
                    echo "$name: the two frames do not alternate" >&2
                    exit 1
                fi
                if [ "$name" = chelsea-two ]; then
                    cmp "$tmp/$name.idx" tests/data/twoframe-converted.a.screen
                    cmp "$tmp/$name.prev.idx" tests/data/twoframe-converted.b.screen
                else
                    compress "$tmp/$name.idx" "tests/data/$name.a.screen.z"
                    compress "$tmp/$name.prev.idx" "tests/data/$name.b.screen.z"
                fi ;;
            *)
                if ! cmp -s "$tmp/$name.idx" "$tmp/$name.prev.idx"; then
                    echo "$name: the picture is not still" >&2
                    exit 1
                fi
                if [ "$name" = rocket-classic ]; then
                    cmp "$tmp/$name.idx" tests/data/rocket.screen
                else
                    compress "$tmp/$name.idx" "tests/data/$name.screen.z"
                fi ;;
        esac
        echo "$name: captured"
    done
done
