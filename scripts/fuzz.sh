#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (default 20 s).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for fuzzer in build/fuzz/tests/fuzz/*_fuzz; do
    [[ -x "$fuzzer" ]] || continue
    name=$(basename "$fuzzer")
    corpus="build/fuzz/corpus/$name"
    mkdir -p "$corpus"
    echo "== fuzzing $name for ${seconds}s"
    log="build/fuzz/$name.log"
    if ! "$fuzzer" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$corpus" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "== $name found a failure; the input is saved in the current folder (crash-*)"
        exit 1
    fi
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
done
