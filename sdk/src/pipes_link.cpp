#include "pipes_link.hpp"

#include "privileged_exchange.hpp"

namespace kv::station {
namespace {

Answer no_session() { return answer(KV_ERR_ARGUMENT, "no watchdog session is open"); }

}  // namespace

Answer PipesLink::privileged(std::string_view request) { return privileged_exchange(request, settings_); }

Answer PipesLink::open_watchdog() {
    auto session = WatchdogSession::open(settings_);
    if (!session.ok()) return session.failure();
    watchdog_.emplace(std::move(session.value()));
    return answer(KV_OK, std::string(ready_line));
}

Answer PipesLink::authenticate() { return watchdog_ ? watchdog_->authenticate() : no_session(); }

Answer PipesLink::send_line(std::string_view line) { return watchdog_ ? watchdog_->send(line) : no_session(); }

Answer PipesLink::exit_watchdog(std::string_view line) { return watchdog_ ? watchdog_->exit(line) : no_session(); }

}  // namespace kv::station
