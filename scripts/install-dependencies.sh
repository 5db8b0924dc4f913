#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the station simulation need.
set -euo pipefail

packages=(
    cmake make g++ git
    wine wine64 mingw-w64 g++-mingw-w64-x86-64-posix
    libgcrypt-mingw-w64-dev libgcrypt20-dev nlohmann-json3-dev googletest libgtest-dev libgmock-dev
    minisign xvfb clang libclang-rt-14-dev
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
