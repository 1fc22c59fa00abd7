#!/bin/sh
# Leak check of the converter itself, in sanitizer builds (the programs turn leak detection off by
# default there, see cmake/sanitizerdefaults.cpp): runs it on several pictures, threads, formats and a
# bad input with LeakSanitizer on, and fails on any leak it reports. LeakSanitizer's tracer now and
# then crashes at exit by itself ("Tracer caught signal"); such a run is repeated, up to 5 times,
# and counts as a failure only when every attempt crashed. Usage: check_cli_leaks.sh CLI DATA_DIR
cli="$1"
data="$2"
[ -x "$cli" ] || { echo "not an executable: $cli"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/out"
printf 'not a picture\n' >"$dir/notimage.jpg"
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1"
export ASAN_OPTIONS
repeated=0

# run EXPECTED_STATUS ARGUMENTS...
run() {
    expected="$1"
    shift
    attempt=1
    while :; do
        "$cli" "$@" >"$dir/stdout" 2>"$dir/stderr"
        status=$?
        if grep -q 'ERROR: LeakSanitizer: detected memory leaks' "$dir/stderr"; then
            echo "leaks in: $cli $*"
            cat "$dir/stderr"
            exit 1
        fi
        if grep -q 'Tracer caught signal\|LeakSanitizer has encountered a fatal error' "$dir/stderr"; then
            [ "$attempt" -lt 5 ] || { echo "the leak check crashed 5 times in: $cli $*"; cat "$dir/stderr"; exit 1; }
            attempt=$((attempt + 1))
            repeated=$((repeated + 1))
            continue
        fi
        [ "$status" -eq "$expected" ] || {
            echo "ended with status $status instead of $expected: $cli $*"
            cat "$dir/stderr"
            exit 1
        }
        return
    done
}

run 0 -j 2 -f xex,asm,png -o "$dir/out" "$data/chelsea.jpg" "$data/coffee.jpg" "$data/rocket.jpg"
run 0 -j 3 --frames 2 --report "$dir/report.csv" --png - "$data/chelsea.jpg"
run 1 -j 2 --method best -o "$dir/out" "$data/coffee.jpg" "$dir/notimage.jpg" "$dir/missing.jpg"
run 2 --saturation 101 "$data/chelsea.jpg"
echo "no leaks ($repeated runs repeated after the tracer crashed)"
