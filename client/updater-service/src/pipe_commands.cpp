#include "pipe_commands.hpp"

#include <optional>

#include "text.hpp"

namespace kv {
namespace {

// Decodes the code point at `pos` of valid UTF-8 (decode_request's output) and its length.
char32_t code_point_at(std::string_view text, std::size_t pos, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(text[i])); };
    const char32_t lead = byte(pos);
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (pos + length > text.size()) {
        length = 1;  // not valid UTF-8: never white space, step over one byte
        return 0xFFFD;
    }
    char32_t cp = lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
    for (std::size_t i = 1; i < length; ++i) cp = (cp << 6) | (byte(pos + i) & 0x3F);
    return cp;
}

// The Unicode White_Space property.
bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string quoted(std::string_view word) { return "'" + std::string(word) + "'"; }

}  // namespace

std::vector<std::string_view> tokenise_request(std::string_view text) {
    std::vector<std::string_view> tokens;
    std::optional<std::size_t> start;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t length = 1;
        const bool white = is_white_space(code_point_at(text, pos, length));
        if (white && start) {
            tokens.push_back(text.substr(*start, pos - *start));
            start.reset();
        } else if (!white && !start) {
            start = pos;
        }
        pos += length;
    }
    if (start) tokens.push_back(text.substr(*start));
    return tokens;
}

std::string decode_request(std::string_view bytes) {
    const std::string text = utf8_lossy(bytes);
    const auto tokens = tokenise_request(text);
    if (tokens.empty()) return {};
    const std::size_t first = static_cast<std::size_t>(tokens.front().data() - text.data());
    const std::size_t end = static_cast<std::size_t>(tokens.back().data() - text.data()) + tokens.back().size();
    return text.substr(first, end - first);
}

Result<PipeCommand> parse_pipe_command(std::string_view decoded_request) {
    const auto tokens = tokenise_request(decoded_request);
    if (tokens.empty()) return fail("empty request");
    const std::string_view word = tokens[0];
    const std::optional<std::string_view> argument = tokens.size() > 1 ? std::optional(tokens[1]) : std::nullopt;
    const std::string_view given = argument.value_or("");

    if (word == "PING") return PipeCommand{PipeCommandKind::ping, {}};
    if (word == "HEARTBEAT") return PipeCommand{PipeCommandKind::heartbeat, {}};
    if (word == "KILL") {
        if (!argument) return fail("KILL needs a pid");
        return PipeCommand{PipeCommandKind::kill, std::string(*argument)};
    }
    if (word == "SETTIME") {
        if (!argument) return fail("SETTIME needs an epoch");
        return PipeCommand{PipeCommandKind::set_time, std::string(*argument)};
    }
    if (word == "DNSPOLICY") {
        if (!argument) return fail("DNSPOLICY needs on or off");
        if (given == "on") return PipeCommand{PipeCommandKind::dns_policy_on, {}};
        if (given == "off") return PipeCommand{PipeCommandKind::dns_policy_off, {}};
        return fail("DNSPOLICY mode must be on or off, got " + quoted(given));
    }
    if (word == "SUPERVISE") {
        if (!argument) return fail("SUPERVISE needs off");
        if (given == "off") return PipeCommand{PipeCommandKind::supervise_off, {}};
        return fail("SUPERVISE mode must be off, got " + quoted(given));
    }
    if (word == "WATCHDOG") {
        if (given == "managed") return PipeCommand{PipeCommandKind::watchdog_managed, {}};
        if (given == "stop") return PipeCommand{PipeCommandKind::watchdog_stop, {}};
        return fail("WATCHDOG mode must be managed or stop, got " + quoted(given));
    }
    if (word == "VPRINTER") {
        if (given == "ensure") return PipeCommand{PipeCommandKind::virtual_printer_ensure, {}};
        return fail("VPRINTER mode must be ensure, got " + quoted(given));
    }
    if (word == "WEBFILTER") {
        if (given == "ensure") return PipeCommand{PipeCommandKind::web_filter_ensure, {}};
        return fail("WEBFILTER mode must be ensure, got " + quoted(given));
    }
    return fail("unknown command " + quoted(word));
}

}  // namespace kv
