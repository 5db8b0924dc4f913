# Sourced by the scripts: one Wine prefix below the build tree, started once per run.
# Wine's long-lived helpers must not inherit the caller's output pipes, so their output
# goes to a file; the prefix is persistent while the run lasts and ended afterwards.

kv_wine_prefix_start() {
    local prefix="$1"
    export WINEPREFIX="$prefix"
    export WINEDEBUG=-all
    mkdir -p "$prefix"
    {
        wineserver -p
        wineboot -i
        # Without a display Wine refuses every window that is not message-only; its null
        # graphics driver lets the watchdog's hidden top-level shutdown blocker exist, as it
        # does on Windows, and changes nothing else the tests rely on.
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
        # The first boot's service manager spends many seconds timing out drivers that cannot
        # start without a display, and holds back every other service start meanwhile; a
        # second boot of the now-initialised prefix is quick and leaves it idle.
        wineserver -k
        wineserver -p
        wineboot
    } >"$prefix.log" 2>&1 </dev/null
}

kv_wine_prefix_stop() {
    WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
}

# The Linux process ids of this prefix's programs whose command line matches REGEX, so a
# script never touches a program of another prefix (a test run beside it, say).
kv_wine_prefix_pids() {
    local prefix="$1" pattern="$2" pid
    for pid in $(pgrep -f "$pattern"); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && echo "$pid"
    done
    return 0
}
