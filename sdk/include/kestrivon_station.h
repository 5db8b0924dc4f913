/*
 * Kestrivon station SDK: what a cafe's station client (Kestrivon-Client.exe) says to the
 * station guard, as plain C calls.
 *
 *   - the privileged pipe \\.\pipe\kestrivon-privileged of the service KestrivonClientUpdater:
 *     one request per connection, one reply line;
 *   - the watchdog pipe \\.\pipe\kestrivon-watchdog of Kestrivon-Watchdog.exe: a session of
 *     command lines, authenticated with the token from watchdog.token.
 *
 * Plain C89, no <windows.h>: MSVC, MinGW, Delphi and .NET clients bind it the same way.
 * Windows x64 only. Link libkestrivon_station.a (MinGW) or kestrivon_station.dll (define
 * KV_STATION_USE_DLL before including this header). docs/station-client.md explains every
 * call, reply and error.
 *
 * Every call returns a kv_status and, where the caller passes a buffer (text, text_size),
 * writes one NUL-terminated text into it: on KV_OK and KV_ERR_REPLY the reply line exactly as
 * the service sent it, without its LF ("OK 8", "ERR target not found"); on any other status
 * the SDK's own error text. A text longer than the buffer is cut at a character boundary.
 * KV_TEXT_SIZE bytes always hold a whole reply of the service. text may be NULL when
 * text_size is 0.
 *
 * Every call may be made from any thread; a kv_watchdog session is used by one thread at a
 * time. Nothing here throws or aborts.
 */
#ifndef KESTRIVON_STATION_H
#define KESTRIVON_STATION_H

#include <stddef.h> /* size_t, wchar_t */

#if defined(KV_STATION_BUILDING_DLL)
#define KV_STATION_API __declspec(dllexport)
#elif defined(KV_STATION_USE_DLL)
#define KV_STATION_API __declspec(dllimport)
#else
#define KV_STATION_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A signed 64-bit integer, for Unix times. */
#if defined(_MSC_VER) || defined(__BORLANDC__)
typedef __int64 kv_int64;
#elif defined(__GNUC__)
__extension__ typedef long long kv_int64;
#else
typedef long long kv_int64;
#endif

/* Enough for every reply of the service and every error text of the SDK. */
#define KV_TEXT_SIZE 1024

/* The privileged pipe takes one message of at most this many bytes. */
#define KV_REQUEST_LIMIT 512

/* The watchdog's session token: 64 lower-case hexadecimal characters. */
#define KV_TOKEN_LENGTH 64

typedef enum kv_status {
    KV_OK = 0,            /* done; the service answered "OK..." */
    KV_ERR_REPLY = 1,     /* the service answered "ERR ..."; text holds that reply */
    KV_ERR_ARGUMENT = 2,  /* a NULL, empty or unknown argument; nothing was sent */
    KV_ERR_TOO_LONG = 3,  /* the request is longer than KV_REQUEST_LIMIT; nothing was sent */
    KV_ERR_NO_PIPE = 4,   /* the pipe does not exist: the service or the watchdog is not running */
    KV_ERR_BUSY = 5,      /* every instance of the pipe stayed busy for the whole time-out */
    KV_ERR_TIMEOUT = 6,   /* no reply, WATCHDOG_READY or EXIT_ACK within the time-out */
    KV_ERR_CLOSED = 7,    /* the other side closed the connection without a reply */
    KV_ERR_PROTOCOL = 8,  /* the other side sent something that is not its protocol */
    KV_ERR_TOKEN = 9,     /* watchdog.token is missing, unreadable or not a token */
    KV_ERR_SYSTEM = 10,   /* another Windows failure; text holds the system's message */
    KV_ERR_INTERNAL = 11  /* the SDK itself failed (out of memory, no thread) */
} kv_status;

/* "KV_OK", "KV_ERR_BUSY", ...; "KV_ERR_UNKNOWN" for any other value. Never NULL. */
KV_STATION_API const char* kv_status_name(kv_status status);

/*
 * Where the pipes and the token are, and how long to wait. A NULL options pointer, and any
 * field left 0 or NULL, means the default given here; the defaults are what a station needs.
 */
typedef struct kv_options {
    const wchar_t* privileged_pipe;      /* L"\\\\.\\pipe\\kestrivon-privileged" */
    const wchar_t* watchdog_pipe;        /* L"\\\\.\\pipe\\kestrivon-watchdog" */
    const wchar_t* token_file;           /* %ProgramData%\Kestrivon\Client\watchdog.token */
    unsigned long busy_timeout_ms;       /* 5000: waiting while all privileged pipe instances are busy */
    unsigned long reply_timeout_ms;      /* 10000: waiting for the privileged pipe's reply */
    unsigned long watchdog_timeout_ms;   /* 10000: connecting up to WATCHDOG_READY; waiting for EXIT_ACK */
    unsigned long heartbeat_interval_ms; /* 15000, at most 30000: the pace of kv_heartbeats_start */
} kv_options;

/* ---- Privileged pipe: one request, one reply line ---------------------------------- */

/* Sends `request` (UTF-8, at most KV_REQUEST_LIMIT bytes, not empty) as it is. */
KV_STATION_API kv_status kv_privileged_request(const kv_options* options, const char* request, char* text, size_t text_size);

KV_STATION_API kv_status kv_ping(const kv_options* options, char* text, size_t text_size);
/* Liveness: once sent, send it again well within 90 s, every time (or use kv_heartbeats_start). */
KV_STATION_API kv_status kv_heartbeat(const kv_options* options, char* text, size_t text_size);
/* "SUPERVISE off": announces a planned exit; the client must end within 10 s. */
KV_STATION_API kv_status kv_supervise_off(const kv_options* options, char* text, size_t text_size);
KV_STATION_API kv_status kv_kill(const kv_options* options, unsigned long pid, char* text, size_t text_size);
/* Sets the clock to `epoch` (Unix seconds, UTC) within the service's weekly budget. */
KV_STATION_API kv_status kv_settime(const kv_options* options, kv_int64 epoch, char* text, size_t text_size);
/* on != 0: "DNSPOLICY on", else "DNSPOLICY off"; `changed` (may be NULL) gets the count of values changed. */
KV_STATION_API kv_status kv_dnspolicy(const kv_options* options, int on, unsigned long* changed, char* text, size_t text_size);
/* The ensure jobs run in the service's background; `in_progress` (may be NULL) is 1 when one already ran. */
KV_STATION_API kv_status kv_vprinter_ensure(const kv_options* options, int* in_progress, char* text, size_t text_size);
KV_STATION_API kv_status kv_webfilter_ensure(const kv_options* options, int* in_progress, char* text, size_t text_size);
/* KV_OK when the service holds the watchdog pipe (and so started the watchdog you talk to). */
KV_STATION_API kv_status kv_watchdog_managed(const kv_options* options, char* text, size_t text_size);
/* Ends the service-launched watchdog; needs kv_supervise_off first. */
KV_STATION_API kv_status kv_watchdog_stop(const kv_options* options, char* text, size_t text_size);

/* Heartbeats on a background thread: one at once, then one every heartbeat_interval_ms. */
typedef struct kv_heartbeats kv_heartbeats;
KV_STATION_API kv_status kv_heartbeats_start(const kv_options* options, kv_heartbeats** heartbeats, char* text, size_t text_size);
/* The counts so far (either may be NULL) and the last beat's text; KV_OK or the last beat's status. */
KV_STATION_API kv_status kv_heartbeats_status(kv_heartbeats* heartbeats, unsigned long* sent, unsigned long* failed, char* text,
                                              size_t text_size);
/* Stops the thread (within a beat's own time-outs) and frees the object; stop it before the DLL
   is unloaded. NULL does nothing. */
KV_STATION_API void kv_heartbeats_stop(kv_heartbeats* heartbeats);

/* ---- Watchdog pipe: a session of command lines ------------------------------------- */

typedef enum kv_watchdog_command {
    KV_KIOSK_ON = 0,           /* taskbar hidden, Task Manager disabled, escape keys swallowed, shutdown refused */
    KV_KIOSK_OFF = 1,          /* needs kv_watchdog_authenticate */
    KV_SHUTDOWN_GUARD_ON = 2,  /* logoff and shutdown refused */
    KV_SHUTDOWN_GUARD_OFF = 3, /* needs kv_watchdog_authenticate */
    KV_WIN_KEY_GUARD_ON = 4,   /* Windows keys and Ctrl+Esc swallowed */
    KV_WIN_KEY_GUARD_OFF = 5,  /* needs kv_watchdog_authenticate */
    KV_WATCHDOG_HEARTBEAT = 6  /* harmless; the watchdog ignores it */
} kv_watchdog_command;

/* Each needs kv_watchdog_authenticate; the watchdog answers EXIT_ACK and ends. */
typedef enum kv_watchdog_exit_command {
    KV_ADMIN_EXIT = 0,
    KV_SERVER_EXIT = 1,
    KV_UNINSTALL = 2,       /* also removes the watchdog's autostart entry */
    KV_SERVER_SHUTDOWN = 3, /* the three SERVER_ commands stop refusing shutdown first; the */
    KV_SERVER_REBOOT = 4,   /* shutdown itself is the client's to start */
    KV_SERVER_LOGOFF = 5
} kv_watchdog_exit_command;

typedef struct kv_watchdog kv_watchdog;

/* Connects and waits for "WATCHDOG_READY", connecting again when a watchdog that is being
   started or replaced drops the connection first. On success *session must be closed. */
KV_STATION_API kv_status kv_watchdog_open(const kv_options* options, kv_watchdog** session, char* text, size_t text_size);
/* Reads watchdog.token afresh and sends "AUTH:" with it. The watchdog sends no reply: a wrong
   token shows only later, when an exit command gets no EXIT_ACK. */
KV_STATION_API kv_status kv_watchdog_authenticate(kv_watchdog* session, char* text, size_t text_size);
/* "PID:" and the number; noted in the watchdog's output only. */
KV_STATION_API kv_status kv_watchdog_report_pid(kv_watchdog* session, unsigned long pid, char* text, size_t text_size);
/* One command line. The watchdog sends no reply; KV_OK means it was written. */
KV_STATION_API kv_status kv_watchdog_send(kv_watchdog* session, kv_watchdog_command command, char* text, size_t text_size);
/* One exit command, then waits for "EXIT_ACK" (KV_ERR_TIMEOUT when the session is not authenticated). */
KV_STATION_API kv_status kv_watchdog_exit(kv_watchdog* session, kv_watchdog_exit_command command, char* text, size_t text_size);
/* Bytes as they are, in one write: for tools and tests. */
KV_STATION_API kv_status kv_watchdog_send_raw(kv_watchdog* session, const char* bytes, size_t length, char* text, size_t text_size);
/* The next line the watchdog sends, without its LF, within timeout_ms; KV_ERR_TIMEOUT when it
   stays quiet, KV_ERR_CLOSED when it has closed the session. */
KV_STATION_API kv_status kv_watchdog_read_line(kv_watchdog* session, unsigned long timeout_ms, char* text, size_t text_size);
/* Closes the connection and frees the session. NULL does nothing. */
KV_STATION_API void kv_watchdog_close(kv_watchdog* session);

/* The token as the watchdog wrote it (for a client's own diagnostics: keep it out of logs). */
KV_STATION_API kv_status kv_watchdog_token(const kv_options* options, char* text, size_t text_size);

/* ---- Both pipes ---------------------------------------------------------------------- */

/* The whole planned exit, in this order: a watchdog session lifts kiosk mode and the guards
   (AUTH:, KIOSK_OFF, SHUTDOWN_GUARD_OFF, WIN_KEY_GUARD_OFF); "SUPERVISE off"; then
   "WATCHDOG stop" when the service manages the watchdog, else ADMIN_EXIT up to EXIT_ACK.
   Stops at the first failure, whose text names the step. On KV_OK the client must end
   within 10 s. */
KV_STATION_API kv_status kv_planned_exit(const kv_options* options, char* text, size_t text_size);

#ifdef __cplusplus
}
#endif

#endif /* KESTRIVON_STATION_H */
