#include "service_command_handlers.hpp"

#include "clock_budget.hpp"
#include "clock_setting.hpp"
#include "dns_policy.hpp"
#include "markers.hpp"
#include "service_log.hpp"
#include "update_environment.hpp"
#include "virtual_printer.hpp"
#include "web_filter_service.hpp"

namespace kv {

WatchdogSupervisor& service_watchdog_supervisor(SupervisionRecords& records) {
    static SteadyClock clock;
    static WatchdogSupervisor supervisor({&records, &clock, [] { return any_update_pending(service_update_environment()); },
                                          [] { return install_dir(); }});
    return supervisor;
}

PrivilegedCommandHandlers service_command_handlers(SupervisionRecords& records) {
    PrivilegedCommandHandlers handlers;
    handlers.set_time = [](std::string_view epoch, const CommandCaller& caller) -> Status {
        const auto previous = service_clock_setting().set_clock(epoch);
        if (!previous) return fail(previous.error());
        caller.log("privileged clock set epoch=" + std::to_string(parse_signed_decimal(epoch).value_or(0)) +
                   " previous=" + std::to_string(*previous) + " caller=" + std::to_string(caller.pid));
        return ok();
    };
    handlers.dns_policy = [](bool on, const CommandCaller& caller) -> Result<std::uint32_t> {
        const auto registry = machine_policy_registry();
        const auto outcome = apply_dns_policy(*registry, browser_dns_policies(), on);
        if (!outcome) return fail(outcome.error());
        const std::string mode = on ? "on" : "off";
        if (outcome->partial_failure) {
            caller.log("privileged dns policy " + mode + " partial failure, continued with the rest: " + *outcome->partial_failure);
        }
        caller.log("privileged dns policy " + mode + " ok changed=" + std::to_string(outcome->changed));
        return outcome->changed;
    };
    WatchdogSupervisor& supervisor = service_watchdog_supervisor(records);
    handlers.watchdog_managed = [&supervisor](const CommandCaller&) -> Status {
        const auto managed = supervisor.managed();
        if (!managed) return fail(managed.error());
        return ok();
    };
    handlers.watchdog_stop = [&supervisor](const CommandCaller& caller) { return supervisor.stop_for_authorized_exit(caller.log); };
    handlers.virtual_printer_job = run_virtual_printer_job;
    handlers.web_filter_job = run_web_filter_job;
    return handlers;
}

}  // namespace kv
