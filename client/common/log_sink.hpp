#pragma once
#include <functional>
#include <string_view>

namespace kv {

// Where a part of the service writes its log lines (the service log, or a test's list).
using LogSink = std::function<void(std::string_view message)>;

}  // namespace kv
