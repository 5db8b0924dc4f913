#!/usr/bin/env bash
# Sets up a Debian 12 machine and runs every test: the portable core natively (plain and
# with sanitizers), then both programs and their tests under Wine in a fresh prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-dependencies.sh

for preset in native native-sanitize; do
    echo "== $preset: build and test"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

echo "== fuzzing every parser for a bounded time"
scripts/fuzz.sh 15

echo "== windows: build"
cmake --preset windows >/dev/null
cmake --build --preset windows

. scripts/wine-prefix.sh
prefix="$root/build/windows/wineprefix"
kv_wine_prefix_stop "$prefix"
rm -rf "$prefix"
trap 'kv_wine_prefix_stop "$prefix"' EXIT
echo "== windows: starting the Wine prefix $prefix"
kv_wine_prefix_start "$prefix"
echo "== windows: tests under Wine"
ctest --preset windows
echo "== all tests passed"
