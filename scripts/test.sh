#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests headless.
# RASTREL_WERROR=ON turns warnings into errors; RASTREL_SANITIZE=ON builds with ASan and UBSan;
# BUILD_DIR chooses the build directory (default: build); RASTREL_QT=6 builds with Qt 6 (default 5);
# RASTREL_BUILD_TYPE the CMake build type (default Debug); RASTREL_SKIP_TESTS a ctest regular
# expression of tests to leave out; RASTREL_BENCH=OFF leaves the benchmarks and manual tools unbuilt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${RASTREL_BUILD_TYPE:-Debug}" \
    -DRASTREL_WERROR="${RASTREL_WERROR:-OFF}" -DRASTREL_SANITIZE="${RASTREL_SANITIZE:-OFF}" \
    -DRASTREL_QT="${RASTREL_QT:-5}" -DRASTREL_BENCH="${RASTREL_BENCH:-ON}"
cmake --build "$build" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
skip=()
[ -n "${RASTREL_SKIP_TESTS:-}" ] && skip=(-E "$RASTREL_SKIP_TESTS")
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "${skip[@]}"
