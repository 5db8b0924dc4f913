#include "main_loop.hpp"

#include <string>

namespace kv {
namespace {

constexpr std::uint32_t services_session = 0;
constexpr std::uint32_t no_console_session = 0xFFFFFFFF;

bool client_supervision_due(const LoopDuties& duties) {
    if (duties.any_update_pending()) return false;
    const std::uint32_t session = duties.active_console_session();
    if (session == services_session || session == no_console_session) return false;
    return duties.user_signed_in(session);
}

}  // namespace

void run_loop_pass(const LoopDuties& duties, const LogSink& log) {
    if (const Status applied = duties.apply_check(); !applied) {
        log("apply check failed: " + applied.error());
    }
    if (client_supervision_due(duties)) duties.client_supervision_pass();
    duties.watchdog_pass();
}

void run_main_loop(StopSignal& stop, const LoopDuties& duties, const LogSink& log, std::chrono::milliseconds pause) {
    while (!stop.wait_for(pause)) run_loop_pass(duties, log);
}

}  // namespace kv
