#include "watchdog_state.hpp"

namespace kv {

WatchdogState& watchdog_state() {
    // Lives as long as the process: detached threads still read it while the process ends.
    static WatchdogState* state = new WatchdogState;
    return *state;
}

}  // namespace kv
