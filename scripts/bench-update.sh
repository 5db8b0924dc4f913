#!/usr/bin/env bash
# Benchmark, not a test: the update engine against the tools that do the least the same work
# could cost, each measured in this run on the same files (medians of ROUNDS, default 3):
#   1. the installer branch's read, SHA-256 and signature check of a 256 MiB installer, against
#      `minisign -V` on the same file, and against `minisign -V` plus `sha256sum`;
#   2. the staged apply of 200 files / 300 MiB with every flush, against `sha256sum`, `cp` and
#      `sync` of the same files;
#   3. the privileged pipe: four concurrent callers' PING rate against one caller's, and
#      against a bare echo server.
# Runs from a fresh checkout: installs what is missing, builds the benchmarks, uses its own
# Wine prefix below build/ and removes its files afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds="${1:-3}"

scripts/install-dependencies.sh
cmake --preset windows >/dev/null 2>&1
cmake --build --preset windows --target update_benchmark pipe_benchmark >/dev/null
. scripts/wine-prefix.sh
prefix="$root/build/bench/update-prefix"
kv_wine_prefix_stop "$prefix"; rm -rf "$prefix"
kv_wine_prefix_start "$prefix"
work="$prefix/drive_c/kv-bench"
trap 'kv_wine_prefix_stop "$prefix"; rm -rf "$work"' EXIT
mkdir -p "$work"
bench="$root/build/windows/bench"
key="$root/tests/fixtures/dev-update-key"

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
elapsed() {  # elapsed COMMAND...: wall seconds of one run
    local start end
    start=$(date +%s%N); "$@" >/dev/null; end=$(date +%s%N)
    awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f\n", (b - a) / 1e9}'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

echo "== machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) (shared cores make every figure noisy)"

echo "== 1. signature check of a 256 MiB installer"
installer="$work/installer.exe"
head -c $((256 << 20)) /dev/urandom >"$installer"
minisign -S -s "$key/dev-update-key.secret" -m "$installer" -x "$installer.minisig" -t "benchmark" >/dev/null
digest=$(sha256sum "$installer" | cut -d' ' -f1)
ours=() reference=() minisign_alone=() minisign_and_sha=()
for _ in $(seq "$rounds"); do
    minisign_alone+=("$(elapsed minisign -Vq -m "$installer" -x "$installer.minisig" -p "$key/dev-update-key.pub")")
    minisign_and_sha+=("$(elapsed bash -c 'minisign -Vq -m "$1" -x "$1.minisig" -p "$2" && sha256sum "$1"' _ "$installer" "$key/dev-update-key.pub")")
    output=$(wine "$bench/update_benchmark.exe" signature 'C:\kv-bench\installer.exe' 'C:\kv-bench\installer.exe.minisig' "$digest" 1)
    ours+=("$(awk '/^side-by-side/ {print $2}' <<<"$output")")
    reference+=("$(awk '/^one-after-the-other/ {print $2}' <<<"$output")")
done
ours_s=$(printf '%s\n' "${ours[@]}" | median); reference_s=$(printf '%s\n' "${reference[@]}" | median)
alone_s=$(printf '%s\n' "${minisign_alone[@]}" | median); both_s=$(printf '%s\n' "${minisign_and_sha[@]}" | median)
echo "installer check (read once, SHA-256 and BLAKE2b-512 side by side): ${ours_s} s"
echo "the same one digest after the other (reference):                  ${reference_s} s"
echo "minisign -V:                                                       ${alone_s} s"
echo "minisign -V + sha256sum:                                           ${both_s} s"
echo "ratio installer check / minisign -V:             $(ratio "$ours_s" "$alone_s")  (target <= 1.5)"
echo "ratio installer check / (minisign -V + sha256sum): $(ratio "$ours_s" "$both_s")"
echo "libgcrypt of this build, 256 MiB hashed in memory (its own pick of code paths, then without AVX2):"
wine "$bench/update_benchmark.exe" primitives 256 | grep -E '^(sha256|blake2b-512) |^hwflist' | sed 's/^/  /'
wine "$bench/update_benchmark.exe" primitives 256 intel-avx2 | grep -E '^blake2b-512 ' | sed 's/^/  without AVX2: /'
rm -f "$installer" "$installer.minisig"

echo "== 2. staged apply of 200 files / 300 MiB, flushes included"
install="$work/install"; updates="$work/updates"; floor="$work/floor"
mkdir -p "$install" "$updates/staging" "$floor"
printf 'client\n' >"$install/Kestrivon-Client.exe"
entries=""
for n in $(seq -w 1 200); do
    name="file$n.bin"
    head -c 1572864 /dev/urandom >"$install/$name"
    head -c 1572864 /dev/urandom >"$updates/staging/$name"
    entries+="${entries:+,}{\"relative_path\":\"$name\",\"sha256\":\"$(sha256sum "$updates/staging/$name" | cut -d' ' -f1)\"}"
done
printf '{"version":"bench","files":[%s]}' "$entries" >"$updates/manifest.json"
cp "$install"/file*.bin "$floor/"
sync
applies=() floors=()
floor_run() {
    sha256sum "$updates"/staging/*.bin >/dev/null
    cp "$updates"/staging/*.bin "$floor/"
    sync "$floor"/*.bin
}
for _ in $(seq "$rounds"); do
    floors+=("$(elapsed floor_run)")
    sync
    applies+=("$(wine "$bench/update_benchmark.exe" apply 'C:\kv-bench\install' 'C:\kv-bench\updates' 1 | awk '/^apply/ {print $2}')")
    sync
done
apply_s=$(printf '%s\n' "${applies[@]}" | median); floor_s=$(printf '%s\n' "${floors[@]}" | median)
echo "staged apply (read, SHA-256, write, flush and two renames per file): ${apply_s} s"
echo "floor: sha256sum + cp + sync of the same files:                       ${floor_s} s"
echo "ratio staged apply / floor: $(ratio "$apply_s" "$floor_s")  (target <= 1.5)"
rm -rf "$install" "$updates" "$floor"

echo "== 3. privileged pipe, PING"
wine "$bench/pipe_benchmark.exe" 5 2>/dev/null | sed 's/^/  /'
echo "(target: 4 callers >= 3x one caller)"
