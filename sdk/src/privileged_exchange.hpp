#pragma once
// One request on the service's privileged pipe: connect, write one message, read one reply
// line, close.
#include <string_view>

#include "station_answer.hpp"
#include "station_settings.hpp"

namespace kv::station {

// KV_OK or KV_ERR_REPLY with the reply line as the service sent it (without its LF);
// any other status when no reply came, with the reason. A request that is empty or longer
// than 512 bytes is refused before anything is sent.
Answer privileged_exchange(std::string_view request, const Settings& settings);

}  // namespace kv::station
