#!/bin/sh
# Smoke test of the program itself: it starts on the offscreen platform, keeps running its event
# loop (its window shown) for two seconds and ends on SIGTERM. Usage: check_program_starts.sh PROGRAM
program="$1"
[ -x "$program" ] || { echo "not an executable: $program"; exit 1; }
log=$(mktemp)
runtime=$(mktemp -d)
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$(mktemp -d) XDG_RUNTIME_DIR="$runtime" "$program" >"$log" 2>&1 &
pid=$!
sleep 2
if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    echo "the program ended by itself with status $?:"
    cat "$log"
    exit 1
fi
kill -TERM "$pid"
wait "$pid"
status=$?
if [ -s "$log" ]; then
    echo "the program printed (for information):"
    cat "$log"
fi
[ "$status" -eq 143 ] || { echo "ended with status $status instead of 143 (SIGTERM)"; exit 1; }
echo "started, ran and ended as expected"
