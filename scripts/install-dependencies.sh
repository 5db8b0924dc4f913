#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the station simulation need.
set -euo pipefail

# Each is used: the builds (cmake, make, the compilers, the libraries and GoogleTest), the
# Wine tests, minisign for signing, clang for fuzzing, procps for pgrep in scripts/wine-prefix.sh.
packages=(
    cmake make g++
    wine wine64 g++-mingw-w64-x86-64-posix
    libgcrypt-mingw-w64-dev libgcrypt20-dev nlohmann-json3-dev googletest libgtest-dev libgmock-dev
    minisign clang libclang-rt-14-dev procps
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if ((${#missing[@]})); then
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
