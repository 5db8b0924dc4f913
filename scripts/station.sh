#!/usr/bin/env bash
# Sets up a Debian 12 machine and runs a simulated café station under Wine: the programs are
# installed into "C:\Program Files\Kestrivon" of a fresh prefix, the updater service is
# installed with "install", and its log is followed until Ctrl-C (or --for SECONDS), after
# which the service is uninstalled and the prefix stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

run_for=0
if [[ "${1:-}" == "--for" ]]; then run_for="${2:?--for needs a number of seconds}"; fi

say() { printf '\n== %s\n' "$*"; }

scripts/install-dependencies.sh
say "building the Windows programs"
cmake --preset windows >/dev/null
cmake --build --preset windows --target Kestrivon-Client-Updater

. scripts/wine-prefix.sh
prefix="$root/build/station/wineprefix"
kv_wine_prefix_stop "$prefix"
rm -rf "$prefix"
say "starting a fresh Wine prefix in $prefix"
kv_wine_prefix_start "$prefix"

install_linux="$prefix/drive_c/Program Files/Kestrivon"
install_windows='C:\Program Files\Kestrivon'
mkdir -p "$install_linux"
cp build/windows/bin/Kestrivon-Client-Updater.exe "$install_linux/"
say "installed the programs into $install_windows"
ls -l "$install_linux"

# Wine gives LocalSystem services C:\users\Public as ProgramData; the install verb runs as the
# desktop user, whose ProgramData is C:\ProgramData.
service_log="$prefix/drive_c/users/Public/Kestrivon/Client/logs/updater-service.log"
install_log="$prefix/drive_c/ProgramData/Kestrivon/Client/logs/updater-service.log"

stop_station() {
    trap - INT TERM EXIT
    say "uninstalling the service"
    wine "$install_windows\\Kestrivon-Client-Updater.exe" uninstall || echo "uninstall exited with $?"
    [[ -f "$install_log" ]] && tail -n 3 "$install_log"
    kv_wine_prefix_stop "$prefix"
    say "station stopped"
}
trap stop_station INT TERM EXIT

say "installing the service: Kestrivon-Client-Updater.exe install"
wine "$install_windows\\Kestrivon-Client-Updater.exe" install
echo "install log ($install_log):"
cat "$install_log"

say "the service as the service manager sees it"
wine sc query KestrivonClientUpdater 2>/dev/null | tr -d '\r' || true

say "the service log ($service_log), followed live; Ctrl-C stops the station"
for _ in $(seq 50); do [[ -f "$service_log" ]] && break; sleep 0.2; done
if ((run_for > 0)); then
    timeout "$run_for" tail -n +1 -F "$service_log" 2>/dev/null || true
else
    tail -n +1 -F "$service_log" 2>/dev/null
fi
