#!/bin/sh
# Checks the manual pages: groff formats them without a warning, and every long option that
# the converter's --help lists is described in its page.
# Usage: check_manpages.sh MAN_DIR CLI_EXECUTABLE
set -u
man_dir=$1
cli=$2

if ! command -v groff >/dev/null 2>&1; then
    echo "groff is not installed (package groff-base); skipping"
    exit 77
fi

status=0
for page in "$man_dir"/rastrel-zo9.1 "$man_dir"/rastrel-zo9-cli.1; do
    if [ ! -s "$page" ]; then
        echo "FAIL: $page is missing or empty"
        status=1
        continue
    fi
    warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 "$page" 2>&1)
    if [ -n "$warnings" ]; then
        echo "FAIL: groff warns about $page:"
        echo "$warnings"
        status=1
    fi
done

help=$("$cli" --help) || { echo "FAIL: $cli --help failed"; exit 1; }
options=$(printf '%s\n' "$help" | grep -o -- '--[a-z][a-z0-9-]*' | sort -u)
if [ -z "$options" ]; then
    echo "FAIL: no long options found in the output of $cli --help"
    exit 1
fi
# Formatted as plain ASCII on unbroken, unhyphenated lines, roff's \- becomes '-', so the
# options read as typed. An option counts as described when it heads an entry of its own:
# a line "-x, --option ..." or "--option ...", not merely a mention in some other text.
text=$(LC_ALL=C groff -man -rLL=1000n -rHY=0 -Tascii -P-cbou "$man_dir"/rastrel-zo9-cli.1 2>/dev/null)
for option in $options; do
    if ! printf '%s\n' "$text" | grep -q -e "^ *\(-[a-zA-Z], \)\{0,1\}$option\( \|$\)"; then
        echo "FAIL: $option is listed by --help but has no entry in rastrel-zo9-cli.1"
        status=1
    fi
done
exit $status
