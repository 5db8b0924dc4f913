#pragma once
// The planned exit's view of the two real pipes.
#include <optional>

#include "planned_exit.hpp"
#include "station_settings.hpp"
#include "watchdog_session.hpp"

namespace kv::station {

class PipesLink final : public StationLink {
public:
    explicit PipesLink(Settings settings) : settings_(std::move(settings)) {}

    Answer privileged(std::string_view request) override;
    Answer open_watchdog() override;
    Answer authenticate() override;
    Answer send_line(std::string_view line) override;
    Answer exit_watchdog(std::string_view line) override;
    void close_watchdog() override { watchdog_.reset(); }

private:
    Settings settings_;
    std::optional<WatchdogSession> watchdog_;
};

}  // namespace kv::station
