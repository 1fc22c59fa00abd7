#!/bin/sh
# Builds the Debian package from a build directory into a temporary directory and checks it:
# name, version and section, the files it installs (and no others), the manual pages as
# written, and run-time dependencies on the Qt libraries found by dpkg-shlibdeps.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR VERSION
set -u
build=$1
source=$2
version=$3

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

expected="./usr/bin/rastrel-zo9
./usr/bin/rastrel-zo9-cli
./usr/libexec/rastrel-zo9/rastrel-zo9-decoder
./usr/share/applications/rastrel-zo9.desktop
./usr/share/icons/hicolor/32x32/apps/rastrel-zo9.png
./usr/share/man/man1/rastrel-zo9-cli.1.gz
./usr/share/man/man1/rastrel-zo9.1.gz"
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -tvf - | awk '$1 !~ /^d/ { print $NF }' | sort)
if [ "$files" != "$expected" ]; then
    fail "the package holds other files than expected:"
    printf '%s\n' "$files"
fi

dpkg-deb -x "$deb" "$work/root"
for page in rastrel-zo9.1 rastrel-zo9-cli.1; do
    if ! gzip -dc "$work/root/usr/share/man/man1/$page.gz" | cmp -s - "$source/man/$page"; then
        fail "usr/share/man/man1/$page.gz is not the compressed man/$page"
    fi
done
exit $status
