#!/usr/bin/env bash
# Benchmark, not a test: runs the installed station idle for SECONDS (default 120) and prints
# the service's CPU time per main-loop pass and the resident memory of the service and the
# watchdog, each beside an idle Wine program measured in the same run as the baseline.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds="${1:-120}"

cmake --preset windows >/dev/null 2>&1
cmake --build --preset windows --target Kestrivon-Client-Updater station-client-double idle-program >/dev/null
. scripts/wine-prefix.sh
prefix="$root/build/bench/wineprefix"
kv_wine_prefix_stop "$prefix"; rm -rf "$prefix"
kv_wine_prefix_start "$prefix"
trap 'kv_wine_prefix_stop "$prefix"' EXIT

install_linux="$prefix/drive_c/Program Files/Kestrivon"
mkdir -p "$install_linux"
cp build/windows/bin/Kestrivon-*.exe "$install_linux/"
cp build/windows/doubles/client/Kestrivon-Client.exe "$install_linux/"
printf 'heartbeat 5000 100000\n' >"$install_linux/client-double.script"
cp build/windows/doubles/idle-program.exe "$prefix/drive_c/idle-baseline.exe"
wine 'C:\Program Files\Kestrivon\Kestrivon-Client-Updater.exe' install >/dev/null 2>&1
wine 'C:\idle-baseline.exe' "$((seconds + 60))" >/dev/null 2>&1 &

pid_of() { kv_wine_prefix_pids "$prefix" "$1" | head -n 1; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }

sleep 5
service=$(pid_of 'Kestrivon-Client-Updater.exe service')
baseline=$(pid_of 'idle-baseline.exe')
[[ -n "$service" && -n "$baseline" ]] || { echo "station did not start"; exit 1; }
ticks_per_second=$(getconf CLK_TCK)
service_start=$(cpu_ticks "$service"); baseline_start=$(cpu_ticks "$baseline")
echo "measuring an idle station for ${seconds}s (one main-loop pass a second)"
sleep "$seconds"
service_cpu=$(( $(cpu_ticks "$service") - service_start )); baseline_cpu=$(( $(cpu_ticks "$baseline") - baseline_start ))
per_pass_ms=$(awk -v t="$service_cpu" -v hz="$ticks_per_second" -v n="$seconds" 'BEGIN {printf "%.2f", t * 1000 / hz / n}')
baseline_ms=$(awk -v t="$baseline_cpu" -v hz="$ticks_per_second" -v n="$seconds" 'BEGIN {printf "%.2f", t * 1000 / hz / n}')
echo "service CPU per pass:      ${per_pass_ms} ms  (idle Wine program per second: ${baseline_ms} ms)"
echo "service resident memory:   $(rss_kib "$service") KiB  (idle Wine program: $(rss_kib "$baseline") KiB, ratio $(awk -v a="$(rss_kib "$service")" -v b="$(rss_kib "$baseline")" 'BEGIN {printf "%.2f", a / b}'))"
watchdog=$(pid_of 'Kestrivon-Watchdog.exe' || true)
if [[ -n "$watchdog" ]]; then
    echo "watchdog resident memory:  $(rss_kib "$watchdog") KiB  (ratio to the idle Wine program $(awk -v a="$(rss_kib "$watchdog")" -v b="$(rss_kib "$baseline")" 'BEGIN {printf "%.2f", a / b}'))"
else
    echo "watchdog resident memory:  (no watchdog running)"
fi
wine 'C:\Program Files\Kestrivon\Kestrivon-Client-Updater.exe' uninstall >/dev/null 2>&1 || true
