#include "planned_exit.hpp"

#include <string>

#include "station_protocol.hpp"

namespace kv::station {
namespace {

Answer stopped_at(std::string_view step, const Answer& failure) {
    return answer(failure.status, "planned exit stopped at " + std::string(step) + ": " + failure.text);
}

}  // namespace

Answer planned_exit(StationLink& link) {
    // The watchdog first: "WATCHDOG stop" ends it without undoing kiosk mode, and a customer
    // left without a taskbar and Task Manager cannot recover the desktop.
    if (Answer opened = link.open_watchdog(); !opened.ok()) return stopped_at("opening the watchdog session", opened);
    if (Answer authenticated = link.authenticate(); !authenticated.ok()) return stopped_at("AUTH:", authenticated);
    for (const auto command : {KV_KIOSK_OFF, KV_SHUTDOWN_GUARD_OFF, KV_WIN_KEY_GUARD_OFF}) {
        const std::string_view line = *command_line(command);
        if (Answer sent = link.send_line(line); !sent.ok()) return stopped_at(line.substr(0, line.size() - 1), sent);
    }
    // Those lines get no reply. The watchdog serves one session after the other, so the
    // greeting of a second session says it has handled every line of the first.
    link.close_watchdog();
    if (Answer reopened = link.open_watchdog(); !reopened.ok()) return stopped_at("waiting for the watchdog to lift", reopened);

    // Only a watchdog the service started is the service's to stop; one started from its
    // autostart entry ends on the client's own authorized word.
    const Answer managed = link.privileged("WATCHDOG managed");
    if (!managed.ok() && managed.status != KV_ERR_REPLY) return stopped_at("WATCHDOG managed", managed);

    if (Answer announced = link.privileged("SUPERVISE off"); !announced.ok()) return stopped_at("SUPERVISE off", announced);
    if (managed.ok()) {
        link.close_watchdog();
        if (Answer stopped = link.privileged("WATCHDOG stop"); !stopped.ok()) return stopped_at("WATCHDOG stop", stopped);
        return answer(KV_OK, "OK kiosk mode lifted, exit announced, watchdog stopped by the service");
    }
    if (Answer authenticated = link.authenticate(); !authenticated.ok()) return stopped_at("AUTH:", authenticated);
    if (Answer ended = link.exit_watchdog(*exit_line(KV_ADMIN_EXIT)); !ended.ok()) return stopped_at("ADMIN_EXIT", ended);
    return answer(KV_OK, "OK kiosk mode lifted, exit announced, watchdog ended with EXIT_ACK");
}

}  // namespace kv::station
