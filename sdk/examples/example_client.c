/*
 * The smallest useful station client, in C: what Kestrivon-Client.exe does with the guard
 * from its start to a planned exit. Build it as Kestrivon-Client.exe, put it beside
 * Kestrivon-Client-Updater.exe and Kestrivon-Watchdog.exe, and run it:
 *
 *   Kestrivon-Client.exe [seconds]    (how long the "customer session" lasts; default 30)
 *
 * Each step prints the call, its status and the text the service sent (or the SDK's error).
 */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h> /* Sleep, GetCurrentProcessId */

#include "kestrivon_station.h"

static int show(const char* step, kv_status status, const char* text) {
    printf("%-22s %-16s %s\n", step, kv_status_name(status), text);
    return status == KV_OK;
}

int main(int argc, char** argv) {
    char text[KV_TEXT_SIZE];
    kv_heartbeats* heartbeats = NULL;
    kv_watchdog* watchdog = NULL;
    kv_status status;
    int seconds = argc > 1 ? atoi(argv[1]) : 30;

    /* NULL options: the station's own pipes, token file and time-outs. */
    status = kv_ping(NULL, text, sizeof(text));
    if (!show("PING", status, text)) return 1; /* no service, or this is not the installed client */

    /* Once the first HEARTBEAT is in, the service ends a client that stays silent for 120 s:
       the background thread beats every 15 s until it is stopped. */
    status = kv_heartbeats_start(NULL, &heartbeats, text, sizeof(text));
    show("heartbeats", status, text);

    /* Lock the desktop down for the customer. KIOSK_ON needs no token; lifting it does. */
    status = kv_watchdog_open(NULL, &watchdog, text, sizeof(text));
    if (show("watchdog session", status, text)) {
        status = kv_watchdog_report_pid(watchdog, GetCurrentProcessId(), text, sizeof(text));
        show("PID:", status, text);
        status = kv_watchdog_send(watchdog, KV_KIOSK_ON, text, sizeof(text));
        show("KIOSK_ON", status, text);
        kv_watchdog_close(watchdog); /* commands get no reply: close when done */
    }

    /* Privileged work the customer's account may not do: the service answers at once and
       does the work in its background (the outcome is in its log). */
    status = kv_vprinter_ensure(NULL, NULL, text, sizeof(text));
    show("VPRINTER ensure", status, text);
    status = kv_webfilter_ensure(NULL, NULL, text, sizeof(text));
    show("WEBFILTER ensure", status, text);

    /* The customer's session. */
    Sleep((DWORD)seconds * 1000);
    status = kv_heartbeats_status(heartbeats, NULL, NULL, text, sizeof(text));
    show("last heartbeat", status, text);

    /* The end: kiosk mode and guards lifted, exit announced, watchdog stopped. After that
       the client has 10 s to end, or it is supervised (and so restarted) again. */
    status = kv_planned_exit(NULL, text, sizeof(text));
    show("planned exit", status, text);
    kv_heartbeats_stop(heartbeats);
    return status == KV_OK ? 0 : 1;
}
