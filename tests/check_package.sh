#!/bin/sh
# Builds the Debian package from a build directory into a temporary directory and checks it:
# name, version and section, the files it installs (and no others), the manual pages as
# written, run-time dependencies on the Qt libraries found by dpkg-shlibdeps, the icons' sizes,
# the copyright file against LICENSE, the changelogs against CHANGELOG.md, and the metainfo's
# release. Where they are installed, lintian (no errors), desktop-file-validate and
# appstreamcli validate check the package, the menu entry and the metainfo.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR VERSION QT_MAJOR_VERSION
set -u
build=$1
source=$2
version=$3

if [ "$4" != 5 ]; then
    echo "the package is made from the Qt 5 build, the default; this build uses Qt $4: skipping"
    exit 77
fi

for tool in cpack dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$tool is not installed (packages cmake and dpkg-dev); skipping"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack could not build the package"
    exit 1
fi
set -- "$work"/rastrel-zo9_*.deb
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "FAIL: expected one rastrel-zo9_*.deb in $work, found: $*"
    exit 1
fi
deb=$1
status=0
fail() {
    echo "FAIL: $*"
    status=1
}

field() {
    dpkg-deb -f "$deb" "$1"
}
[ "$(field Package)" = rastrel-zo9 ] || fail "Package is '$(field Package)'"
[ "$(field Section)" = graphics ] || fail "Section is '$(field Section)'"
case "$(field Version)" in
    "$version"-*) ;;
    *) fail "Version '$(field Version)' does not come from the project version $version" ;;
esac
depends=$(field Depends)
for library in libqt5core5a libqt5gui5 libqt5widgets5 libc6; do
    case "$depends" in
        "$library" | "$library "* | "$library,"* | *" $library" | *" $library "* | *" $library,"*) ;;
        *) fail "Depends lacks $library: '$depends'" ;;
    esac
done

icon_sizes="16 32 48 64 128 256"
metainfo=usr/share/metainfo/invalid.rastrel_zo9.rastrel_zo9.metainfo.xml
doc=usr/share/doc/rastrel-zo9
expected=$( {
    printf './%s\n' usr/bin/rastrel-zo9 usr/bin/rastrel-zo9-cli usr/libexec/rastrel-zo9/rastrel-zo9-decoder \
        usr/share/applications/rastrel-zo9.desktop \
        "$doc/changelog.Debian.gz" "$doc/changelog.gz" "$doc/copyright" \
        usr/share/icons/hicolor/scalable/apps/rastrel-zo9.svg "$metainfo" \
        usr/share/man/man1/rastrel-zo9-cli.1.gz usr/share/man/man1/rastrel-zo9.1.gz
    for size in $icon_sizes; do
        echo "./usr/share/icons/hicolor/${size}x$size/apps/rastrel-zo9.png"
    done
} | sort)
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -tvf - | awk '$1 !~ /^d/ { print $NF }' | sort)
if [ "$files" != "$expected" ]; then
    fail "the package holds other files than expected:"
    printf '%s\n' "$files"
fi

dpkg-deb -x "$deb" "$work/root"
for page in rastrel-zo9.1 rastrel-zo9-cli.1; do
    if ! gzip -dc "$work/root/usr/share/man/man1/$page.gz" | cmp -s - "$build/man/$page"; then
        fail "usr/share/man/man1/$page.gz is not the compressed man/$page with the version filled in"
    fi
done

# Big-endian 32-bit number at byte offset $2 of file $1.
be32() {
    od -An -tu1 -j"$2" -N4 "$1" | awk '{ print ((($1 * 256 + $2) * 256 + $3) * 256 + $4) }'
}
for size in $icon_sizes; do
    icon="$work/root/usr/share/icons/hicolor/${size}x$size/apps/rastrel-zo9.png"
    [ -f "$icon" ] || continue
    signature=$(od -An -tx1 -N8 "$icon" | tr -d ' ')
    if [ "$signature" != 89504e470d0a1a0a ] || [ "$(be32 "$icon" 16)x$(be32 "$icon" 20)" != "${size}x$size" ]; then
        fail "the ${size}x$size icon is not a PNG of $size x $size pixels"
    fi
done

# The copyright file: the machine-readable format, our files under the licence in LICENSE (the
# paragraph of its own that gives the licence's text).
copyright="$work/root/$doc/copyright"
licence_body() {
    awk 'previous == "" && /^License: Expat$/ { body = 1; next } body && /^$/ { exit } body { print }
         { previous = $0 }' "$copyright" \
        | sed -e 's/^ //' -e 's/^\.$//'
}
if [ "$(head -n 1 "$copyright")" != "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]; then
    fail "copyright is not in the machine-readable format"
fi
holder=$(sed -n 's/^Copyright (c) //p' "$source/LICENSE")
if ! grep -q '^Files: \*$' "$copyright" || ! grep -qx "Copyright: $holder" "$copyright"; then
    fail "copyright does not give the files to '$holder'"
fi
if [ "$(head -n 1 "$source/LICENSE")" != "MIT License" ] \
    || [ "$(licence_body)" != "$(sed -n '/^Permission/,$p' "$source/LICENSE")" ]; then
    fail "copyright's Expat licence is not the MIT licence of LICENSE"
fi

# The changelogs: the user's CHANGELOG.md as it is, and the Debian one made from it, whose newest
# entry is the package's version; both compressed without a time stamp.
for log in changelog.gz changelog.Debian.gz; do
    [ "$(od -An -tu1 -j4 -N4 "$work/root/$doc/$log" | tr -d ' ')" = 0000 ] || fail "$log has a time stamp"
done
gzip -dc "$work/root/$doc/changelog.gz" | cmp -s - "$source/CHANGELOG.md" || fail "changelog.gz is not CHANGELOG.md"
gzip -dc "$work/root/$doc/changelog.Debian.gz" >"$work/changelog.Debian"
if ! grep -q "^## $version (" "$source/CHANGELOG.md"; then
    fail "CHANGELOG.md has no entry for $version"
fi
if [ "$(dpkg-parsechangelog -l "$work/changelog.Debian" -S Version 2>&1)" != "$(field Version)" ]; then
    fail "changelog.Debian.gz does not begin with version $(field Version)"
fi
entries=$(grep -c '^## [0-9]' "$source/CHANGELOG.md")
if [ "$(grep -c '^rastrel-zo9 (' "$work/changelog.Debian")" != "$entries" ] \
    || [ "$(grep -c '<release ' "$work/root/$metainfo")" != "$entries" ]; then
    fail "changelog.Debian.gz or the metainfo does not have the $entries versions of CHANGELOG.md"
fi
if ! grep -q "<release version=\"$version\" date=\"$(sed -n "s/^## $version (\(.*\))\$/\1/p" "$source/CHANGELOG.md")\">" \
    "$work/root/$metainfo"; then
    fail "the metainfo has no release $version dated as in CHANGELOG.md"
fi

# The menu entry opens the file it is given and offers itself for JPEG photos.
desktop="$work/root/usr/share/applications/rastrel-zo9.desktop"
grep -qx 'Exec=rastrel-zo9 %f' "$desktop" || fail "the menu entry does not pass the file: $(grep '^Exec=' "$desktop")"
grep -q '^MimeType=\(.*;\)\{0,1\}image/jpeg;' "$desktop" || fail "the menu entry does not list image/jpeg"

# The validators, where installed.
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
else
    echo "desktop-file-validate is not installed (package desktop-file-utils); not run"
fi
if command -v appstreamcli >/dev/null 2>&1; then
    appstreamcli validate --no-net "$work/root/$metainfo" >"$work/appstream.log" 2>&1 \
        || { cat "$work/appstream.log"; fail "appstreamcli validate"; }
else
    echo "appstreamcli is not installed (package appstream); not run"
fi
if command -v lintian >/dev/null 2>&1; then
    lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian found errors"; }
else
    echo "lintian is not installed; not run"
fi
exit $status
