/* Builds only when kestrivon_station.h is plain C89: compiled with -std=c89 -pedantic-errors. */
#include "kestrivon_station.h"

int kv_station_header_c89_check(void);

int kv_station_header_c89_check(void) {
    kv_options options = {0};
    char text[KV_TEXT_SIZE];
    kv_int64 epoch = 1790000000;
    kv_watchdog* session = NULL;
    options.busy_timeout_ms = 100;
    text[0] = '\0';
    (void)epoch;
    (void)session;
    return (int)sizeof(options) + (int)text[0] + (int)KV_ERR_INTERNAL + (int)KV_SERVER_LOGOFF;
}
