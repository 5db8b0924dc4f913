#include "station_protocol.hpp"

#include <array>
#include <cstdio>

namespace kv::station {
namespace {

// The longest stray reply quoted in an error text.
constexpr std::size_t quoted_limit = 200;

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

Answer check_request(std::string_view request) {
    if (request.empty()) return answer(KV_ERR_ARGUMENT, "the request is empty: nothing was sent");
    if (request.size() > request_limit) {
        return answer(KV_ERR_TOO_LONG, "the request is " + std::to_string(request.size()) +
                                           " bytes, more than the 512 the privileged pipe takes: nothing was sent");
    }
    return answer(KV_OK, "");
}

Answer parse_reply(std::string_view message) {
    const std::size_t end = message.find('\n');
    if (end == std::string_view::npos || end + 1 != message.size()) {
        return answer(KV_ERR_PROTOCOL, "the reply is not one line: " + visible(message));
    }
    const std::string_view line = message.substr(0, end);
    if (line == "OK" || line.starts_with("OK ")) return answer(KV_OK, std::string(line));
    if (line.starts_with("ERR ")) return answer(KV_ERR_REPLY, std::string(line));
    return answer(KV_ERR_PROTOCOL, "the reply is neither OK nor ERR: " + visible(line));
}

std::optional<unsigned long> reply_count(std::string_view ok_line) {
    if (!ok_line.starts_with("OK ")) return std::nullopt;
    const std::string_view digits = ok_line.substr(3);
    if (digits.empty() || digits.size() > 10) return std::nullopt;
    unsigned long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<unsigned long>(value);
}

std::optional<bool> ensure_in_progress(std::string_view ok_line) {
    if (ok_line == "OK queued") return false;
    if (ok_line == "OK in progress") return true;
    return std::nullopt;
}

Answer check_token(std::string_view bytes) {
    if (bytes.size() != token_length) {
        return answer(KV_ERR_TOKEN, "expected 64 lower-case hexadecimal characters, found " + std::to_string(bytes.size()) + " bytes");
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return answer(KV_ERR_TOKEN, "expected 64 lower-case hexadecimal characters, found '" + visible(bytes.substr(i, 1)) +
                                            "' at position " + std::to_string(i + 1));
        }
    }
    return answer(KV_OK, std::string(bytes));
}

std::optional<std::string_view> command_line(kv_watchdog_command command) {
    static constexpr std::array<std::string_view, 7> lines = {
        "KIOSK_ON\n", "KIOSK_OFF\n", "SHUTDOWN_GUARD_ON\n", "SHUTDOWN_GUARD_OFF\n", "WIN_KEY_GUARD_ON\n", "WIN_KEY_GUARD_OFF\n", "HEARTBEAT\n",
    };
    const auto index = static_cast<std::size_t>(command);
    if (index >= lines.size()) return std::nullopt;
    return lines[index];
}

std::optional<std::string_view> exit_line(kv_watchdog_exit_command command) {
    static constexpr std::array<std::string_view, 6> lines = {
        "ADMIN_EXIT\n", "SERVER_EXIT\n", "UNINSTALL\n", "SERVER_SHUTDOWN\n", "SERVER_REBOOT\n", "SERVER_LOGOFF\n",
    };
    const auto index = static_cast<std::size_t>(command);
    if (index >= lines.size()) return std::nullopt;
    return lines[index];
}

std::optional<std::string> WatchdogLines::next_line() {
    const std::size_t end = pending_.find('\n');
    if (end == std::string::npos) return std::nullopt;
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return line;
}

void copy_text(std::string_view text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return;
    std::size_t length = text.size();
    if (length >= size) {
        length = size - 1;
        // Never half a character: step back over the continuation bytes of the cut one (a
        // sequence has at most three; invalid text is cut where it falls after them).
        for (int step = 0; step < 3 && length > 0 && is_continuation(text[length]); ++step) --length;
    }
    text.copy(buffer, length);
    buffer[length] = '\0';
}

std::string visible(std::string_view bytes) {
    std::string out;
    for (const char c : bytes.substr(0, quoted_limit)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    if (bytes.size() > quoted_limit) out += "...";
    return out;
}

}  // namespace kv::station
