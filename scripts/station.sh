#!/usr/bin/env bash
# Sets up a Debian 12 machine and runs a simulated café station under Wine, as a live demo:
# the programs are installed into "C:\Program Files\Kestrivon" of a fresh prefix, the updater
# service is installed with "install", it starts the station client (a stand-in) and the
# watchdog, then a signed update is staged and applied while you watch. The station keeps
# running until Ctrl-C (or --for SECONDS); then the service is uninstalled and Wine stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

run_for=0
if [[ "${1:-}" == "--for" ]]; then run_for="${2:?--for needs a number of seconds}"; fi

say() { printf '\n== %s\n' "$*"; }

scripts/install-dependencies.sh
say "building the Windows programs"
cmake --preset windows >/dev/null 2>&1
targets=(Kestrivon-Client-Updater kestrivon-publish station-client-double)
grep -q 'Kestrivon-Watchdog' build/windows/Makefile 2>/dev/null && targets+=(Kestrivon-Watchdog)
cmake --build --preset windows --target "${targets[@]}" >/dev/null
say "building kestrivon-publish for this Linux machine, the signing PC of the demo"
cmake --preset native >/dev/null 2>&1
cmake --build --preset native --target kestrivon-publish >/dev/null

. scripts/wine-prefix.sh
prefix="$root/build/station/wineprefix"
kv_wine_prefix_stop "$prefix"
rm -rf "$prefix" "$root/build/station/update"
say "starting a fresh Wine prefix (a simulated station PC) in $prefix"
kv_wine_prefix_start "$prefix"

install_linux="$prefix/drive_c/Program Files/Kestrivon"
install_windows='C:\Program Files\Kestrivon'
mkdir -p "$install_linux"
cp build/windows/bin/Kestrivon-Client-Updater.exe build/windows/bin/kestrivon-publish.exe "$install_linux/"
[[ -f build/windows/bin/Kestrivon-Watchdog.exe ]] && cp build/windows/bin/Kestrivon-Watchdog.exe "$install_linux/"
cp build/windows/doubles/client/Kestrivon-Client.exe "$install_linux/"
# The stand-in client reports to the service every 5 s, as a real station client must.
printf 'heartbeat 5000 100000\n' >"$install_linux/client-double.script"
say "installed into $install_windows (the client is a test stand-in that sends HEARTBEAT every 5 s)"
ls "$install_linux"

# Wine gives LocalSystem services C:\users\Public as ProgramData; "install" runs as the
# desktop user, whose ProgramData is C:\ProgramData.
data="$prefix/drive_c/users/Public/Kestrivon/Client"
service_log="$data/logs/updater-service.log"
install_log="$prefix/drive_c/ProgramData/Kestrivon/Client/logs/updater-service.log"
shown=0

# Prints the service log's new lines as they come; returns 0 once a line after line $3
# (default 0) matches $1, leaving its number in last_hit; 1 after $2 seconds.
last_hit=0
follow_until() {
    local pattern="$1" limit="$2" from="${3:-0}" waited=0
    while :; do
        if [[ -f "$service_log" ]]; then
            local total; total=$(wc -l <"$service_log")
            if ((total > shown)); then
                sed -n "$((shown + 1)),${total}p" "$service_log" | sed 's/^/   service log: /'
                shown=$total
            fi
            local hit
            hit=$(sed -n "$((from + 1)),${total}p" "$service_log" | grep -nE "$pattern" | head -n 1 | cut -d: -f1 || true)
            if [[ -n "$hit" ]]; then
                last_hit=$((from + hit))
                return 0
            fi
        fi
        ((waited >= limit * 5)) && return 1
        sleep 0.2
        waited=$((waited + 1))
    done
}

stop_station() {
    trap - INT TERM EXIT
    say "stopping the station: Kestrivon-Client-Updater.exe uninstall"
    wine "$install_windows\\Kestrivon-Client-Updater.exe" uninstall >/dev/null 2>&1 || echo "uninstall exited with $?"
    [[ -f "$install_log" ]] && tail -n 2 "$install_log" | sed 's/^/   install log: /'
    kv_wine_prefix_stop "$prefix"
    say "station stopped"
}
trap stop_station INT TERM EXIT

say "installing the service: Kestrivon-Client-Updater.exe install"
wine "$install_windows\\Kestrivon-Client-Updater.exe" install >/dev/null 2>&1
sed 's/^/   install log: /' "$install_log"

say "the service starts the client (and the watchdog) in the console user's session"
follow_until 'supervisor relaunched client pid=' 60 || echo "   (no client start seen yet)"
follow_until 'service started watchdog pid=|watchdog start failed' 10 || true
before_update=$shown

say "publishing a signed update with kestrivon-publish: a new client program and version.txt 2.0.0"
release="$root/build/station/update"
mkdir -p "$release/files"
cp build/windows/doubles/client/Kestrivon-Client.exe "$release/files/Kestrivon-Client.exe"
printf '2.0.0\n' >"$release/files/version.txt"
echo "   on the signing PC (this Linux machine, the secret key stays here):"
echo "   kestrivon-publish files --version 2.0.0 --from files --secret-key dev-update-key.secret --public-key dev-update-key.pub --out bundle"
build/native/tools/publish/kestrivon-publish files --version 2.0.0 --from "$release/files" \
    --secret-key tests/fixtures/dev-update-key/dev-update-key.secret --public-key tests/fixtures/dev-update-key/dev-update-key.pub \
    --out "$release/bundle" | sed 's/^/   /'
# Wine gives the service C:\users\Public as ProgramData, unlike this desktop user: name its folder.
echo "   on the station: kestrivon-publish.exe stage --bundle bundle"
wine "$install_windows\\kestrivon-publish.exe" stage --bundle "Z:$(echo "$release/bundle" | tr / '\\')" \
    --updates 'C:\users\Public\Kestrivon\Client\updates' 2>&1 | tr -d '\r' | sed 's/^/   /'

say "the service verifies the signature and every checksum, ends the client, replaces the files"
if follow_until 'update applied \(signed\)|update failed|SIGNATURE REJECTED' 60 "$before_update"; then
    echo "   installed version.txt now reads: $(cat "$install_linux/version.txt" 2>/dev/null || echo '(missing)')"
fi
say "client supervision brings the client back"
follow_until 'supervisor relaunched client pid=' 60 "$last_hit" || echo "   (no relaunch seen yet)"
echo "   kestrivon-publish.exe status:"
wine "$install_windows\\kestrivon-publish.exe" status --updates 'C:\users\Public\Kestrivon\Client\updates' 2>&1 |
    tr -d '\r' | sed 's/^/     /' || true

running_programs() {
    local pid
    for pid in $(kv_wine_prefix_pids "$prefix" 'Kestrivon-(Client|Watchdog)\.exe'); do
        tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | sed -E 's/.*\\//; s/ .*//'; echo
    done | grep . | sort | uniq -c | awk '{printf "%s%s x%s", (NR > 1 ? ", " : ""), $2, $1} END {print ""}'
}
echo "   running now: $(running_programs)"

say "the client crashes (killed from Linux): the station heals itself"
kill -9 $(kv_wine_prefix_pids "$prefix" 'Kestrivon-Client\.exe') 2>/dev/null || true
sleep 6
follow_until 'a line that never comes' 0 "$shown" || true
echo "   running now: $(running_programs)"

say "the watchdog crashes (killed from Linux): the service starts a new one"
before_crash=$shown
kill -9 $(kv_wine_prefix_pids "$prefix" 'Kestrivon-Watchdog\.exe') 2>/dev/null || true
follow_until 'service started watchdog pid=' 15 "$before_crash" || echo "   (no new watchdog seen yet)"
echo "   running now: $(running_programs)"

say "the station runs; the service log follows live$( ((run_for > 0)) && echo " for ${run_for}s" || echo "; Ctrl-C stops it")"
if ((run_for > 0)); then
    follow_until 'a line that never comes' "$run_for" "$shown" || true
else
    while :; do follow_until 'a line that never comes' 3600 "$shown" || true; done
fi
