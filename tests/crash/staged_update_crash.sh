#!/usr/bin/env bash
# Crash test of a staged update under Wine: "apply-once" applies a signed update of 33 files
# and is killed with SIGKILL at many moments (while it plans, between the two renames of a
# file, while it writes a new copy, after a rename into place, after the last rename, and at
# moments spread over its run). Then "apply-once" runs once more, with the pending update left
# in place or taken away as an expired or withdrawn one would be. Afterwards every file is
# entirely old or entirely new, none is missing, no side file is left, and nothing behind a
# link inside the install folder was touched.
# Usage: staged_update_crash.sh UPDATER_EXE DEV_SECRET_KEY WORK_DIR   (WINEPREFIX set and started)
set -euo pipefail
updater_exe="$1"; key="$2"; work="$3"
here="$(cd "$(dirname "$0")" && pwd)"
[[ -n "${WINEPREFIX:-}" && -d "$WINEPREFIX/drive_c" ]] || { echo "WINEPREFIX must name a started prefix"; exit 1; }
. "$here/../../scripts/wine-prefix.sh"
export WINEDEBUG=-all

mkdir -p "$work"
cc -O2 -Wall -o "$work/kill_at" "$here/kill_at.c"

root="$WINEPREFIX/drive_c/kv-crash-test"
install="$root/install"
outside="$root/outside"
pristine="$root/pristine"
data="$WINEPREFIX/drive_c/ProgramData/Kestrivon/Client"
updates="$data/updates"
log="$data/logs/updater-service.log"
updater='C:\kv-crash-test\install\Kestrivon-Client-Updater.exe'
cleanup() { rm -rf "$root" "$updates/staging" "$updates/manifest.json" "$updates/manifest.json.sig" "$updates/pending-update.json"; }
trap cleanup EXIT
cleanup

# The update, in manifest order: the client, two files in a folder that does not exist yet,
# then files two, one and no folders deep; 1 MiB each, so each phase takes a while.
files=(Kestrivon-Client.exe new/n1.dat new/n2.dat)
for n in 01 02 03 04; do files+=("lib/deep/d$n.dat"); done
for n in 01 02 03 04 05 06 07 08 09 10; do files+=("lib/l$n.dat"); done
for n in 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16; do files+=("f$n.dat"); done

mkdir -p "$pristine/old/lib/deep" "$pristine/update/staging" "$outside"
declare -A old_digest new_digest
for f in "${files[@]}"; do
    mkdir -p "$(dirname "$pristine/update/staging/$f")"
    head -c 1048576 < <(yes "$f new") >"$pristine/update/staging/$f"
    new_digest[$f]=$(sha256sum "$pristine/update/staging/$f" | cut -d' ' -f1)
    if [[ $f != new/* ]]; then
        head -c 1048576 < <(yes "$f old") >"$pristine/old/$f"
        old_digest[$f]=$(sha256sum "$pristine/old/$f" | cut -d' ' -f1)
    fi
done
printf 'not part of the update\n' >"$pristine/old/keep.txt"
cp "$updater_exe" "$pristine/old/Kestrivon-Client-Updater.exe"
entries=""
for f in "${files[@]}"; do entries+="${entries:+,}{\"relative_path\":\"$f\",\"sha256\":\"${new_digest[$f]}\"}"; done
printf '{"version":"crash-test","files":[%s]}\n' "$entries" >"$pristine/update/manifest.json"
printf '{}' >"$pristine/update/pending-update.json"
minisign -S -s "$key" -m "$pristine/update/manifest.json" -x "$pristine/update/manifest.json.sig" -t "crash test" >/dev/null
# Side-file names behind a link: a walk through it would delete or rename them.
printf 'bait\n' >"$outside/bait.dat"
printf 'bait\n' >"$outside/bait.dat.kv-new"
printf 'bait\n' >"$outside/bait.dat.kv-old-1-1"
printf 'bait\n' >"$outside/lonely.dat.kv-old-1-1"
outside_listing=$(cd "$outside" && ls -l --time-style=+%s)

reset_station() {
    rm -rf "$install"; cp -r "$pristine/old" "$install"
    ln -s "$outside" "$install/linked"
    rm -rf "$updates/staging"; mkdir -p "$updates"; cp -r "$pristine/update/." "$updates/"
    touch -d '-10 seconds' "$updates/pending-update.json" "$updates/manifest.json.sig"
}

side_files() { find "$install" \( -name '*.kv-new' -o -name '*.kv-old-*' \) -printf '%P\n'; }

# "new", "old", "absent" or "torn" for one file of the update.
state_of() {
    local path="$install/$1"
    [[ -e $path ]] || { echo absent; return; }
    local digest; digest=$(sha256sum "$path" | cut -d' ' -f1)
    if [[ $digest == "${new_digest[$1]}" ]]; then echo new
    elif [[ $digest == "${old_digest[$1]:-}" ]]; then echo old
    else echo torn; fi
}

# Where a kill landed, from what it left.
landing() {
    local f state all_new=1 all_old=1 backup
    for f in "${files[@]}"; do
        state=$(state_of "$f")
        if [[ $state != new ]]; then all_new=0; fi
        if [[ ! ($state == old || ($state == absent && $f == new/*)) ]]; then all_old=0; fi
    done
    while read -r backup; do
        if [[ $backup == *.kv-old-* && ! -e "$install/${backup%.kv-old-*}" ]]; then
            echo "between the two renames"
            return
        fi
    done < <(side_files)
    if ((all_new)); then echo "after the last rename"
    elif ((all_old)) && [[ -z $(side_files) ]]; then echo "planning, nothing touched yet"
    else echo "part-way through the replace"; fi
}

# The taskkill that a killed run started ends by itself within a moment, unless the kill came
# while it was being created: Wine then leaves it waiting for its dead parent forever, and
# this test ends it by its id.
wait_for_children() {
    local pids pid
    for _ in $(seq 20); do
        pids=$(kv_wine_prefix_pids "$WINEPREFIX" 'taskkill\.exe' 2>/dev/null)
        if [[ -z $pids ]]; then return; fi
        sleep 0.1
    done
    for pid in $pids; do kill -9 "$pid" 2>/dev/null || true; done
}

failures=0
problem() { echo "  FAILED: $*"; failures=$((failures + 1)); }

check_station() {  # check_station EXPECT_ALL_NEW
    local f state
    for f in "${files[@]}"; do
        state=$(state_of "$f")
        case $state in
            new) ;;
            old) ;;
            absent) [[ $f == new/* ]] || problem "$f is missing" ;;
            torn) problem "$f is neither old nor new" ;;
        esac
        if [[ $1 == 1 && $state != new ]]; then problem "$f is $state although the update was still pending"; fi
    done
    [[ -z $(side_files) ]] || problem "side files left: $(side_files | tr '\n' ' ')"
    [[ $(cat "$install/keep.txt") == 'not part of the update' ]] || problem "keep.txt changed"
    [[ $(cd "$outside" && ls -l --time-style=+%s) == "$outside_listing" ]] || problem "files behind the link were touched"
}

# The moments: EVENT COUNT DELAY_US GLOB FOLDERS (i: install, s: staging).
moments=(
    "open 1 0 *.dat s" "open 12 0 *.dat s" "open 30 0 *.dat s"
    "moved_from 1 0 Kestrivon-Client.exe i" "moved_from 1 0 *.dat i" "moved_from 4 0 *.dat i" "moved_from 9 0 *.dat i"
    "moved_from 14 0 *.dat i" "moved_from 22 0 *.dat i" "moved_from 30 0 *.dat i"
    "create 2 0 *.kv-new i" "create 11 0 *.kv-new i" "create 25 0 *.kv-new i"
    "moved_to 3 0 *.dat i" "moved_to 17 0 *.dat i"
    "moved_to 30 0 *.dat i" "moved_to 30 2000 *.dat i" "moved_to 30 20000 *.dat i"
)
reset_station
start=$(date +%s%N)
wine "$updater" apply-once >"$work/apply.out" 2>&1 || { cat "$work/apply.out"; echo "an undisturbed apply failed"; exit 1; }
run_us=$(( ($(date +%s%N) - start) / 1000 ))
check_station 1
echo "an undisturbed apply-once of ${#files[@]} files takes ${run_us} us"
for i in $(seq 0 11); do moments+=("start 0 $((run_us * (i + 1) / 11)) * -"); done

declare -A landed
kill_number=0
for moment in "${moments[@]}"; do
    read -r event count delay glob where <<<"$moment"
    reset_station
    folders=()
    case $where in
        i) folders=("$install" "$install/lib" "$install/lib/deep") ;;
        s) folders=("$updates/staging" "$updates/staging/lib" "$updates/staging/lib/deep") ;;
        -) folders=("$install") ;;
    esac
    lines_before=$(grep -c 'interrupted replace' "$log" 2>/dev/null || true)
    outcome=$("$work/kill_at" "$event" "$count" "$delay" "$glob" "${folders[@]}" -- wine "$updater" apply-once 2>/dev/null)
    wait_for_children
    kill_number=$((kill_number + 1))
    if [[ $outcome == killed ]]; then where_landed=$(landing); else where_landed="ended by itself ($outcome)"; fi
    landed[$where_landed]=$(( ${landed[$where_landed]:-0} + 1 ))
    had_side_files=$([[ -n $(side_files) ]] && echo 1 || echo 0)
    # Every other time the update is gone before the next run, as if expired or withdrawn.
    keep=$((kill_number % 2))
    if ((keep == 0)); then
        rm -rf "$updates/staging" "$updates/manifest.json" "$updates/manifest.json.sig" "$updates/pending-update.json"
    fi
    still_pending=0
    if [[ -e $updates/manifest.json && -e $updates/manifest.json.sig && -e $updates/pending-update.json ]]; then still_pending=1; fi
    echo "kill $kill_number at $event #$count +${delay}us ($glob): $where_landed; update $([[ $keep == 1 ]] && echo kept || echo removed)"
    wine "$updater" apply-once >"$work/apply.out" 2>&1 || problem "apply-once after the kill failed: $(cat "$work/apply.out")"
    wait_for_children
    check_station "$still_pending"
    lines_after=$(grep -c 'interrupted replace' "$log" 2>/dev/null || true)
    ((had_side_files == 0 || lines_after > lines_before)) || problem "side files were repaired without a log line"
done

echo "where the kills landed:"
for where_landed in "${!landed[@]}"; do echo "  ${landed[$where_landed]} x $where_landed"; done
for needed in "planning, nothing touched yet" "between the two renames" "after the last rename"; do
    [[ -n ${landed[$needed]:-} ]] || problem "no kill landed $needed"
done
if ((failures)); then
    echo "crash test: $failures problem(s) after $kill_number kills"
    exit 1
fi
echo "crash test: every file old or new, none missing, no side file left after $kill_number kills"
