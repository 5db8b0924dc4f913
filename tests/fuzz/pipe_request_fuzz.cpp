// The privileged pipe's request bytes come from whoever connects: decoding, tokenising and
// parsing must take anything and keep their promises.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pipe_commands.hpp"
#include "text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = kv::decode_request(bytes);
    // Decoded text is valid UTF-8 and already trimmed: decoding it again changes nothing.
    if (kv::utf8_lossy(text) != text) __builtin_trap();
    if (kv::decode_request(text) != text) __builtin_trap();
    const auto tokens = kv::tokenise_request(text);
    if (text.empty() != tokens.empty()) __builtin_trap();
    for (const auto token : tokens) {
        if (token.empty()) __builtin_trap();
        if (kv::tokenise_request(token).size() != 1) __builtin_trap();  // a token holds no white space
    }
    const auto command = kv::parse_pipe_command(text);
    if (!command) {
        if (command.error().empty()) __builtin_trap();
    } else if (!command->argument.empty() && (tokens.size() < 2 || command->argument != tokens[1])) {
        __builtin_trap();  // the argument is always the second token, whole
    }
    return 0;
}
