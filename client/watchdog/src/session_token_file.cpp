#include "session_token_file.hpp"

#include <windows.h>
#include <bcrypt.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <system_error>

#include "data_paths.hpp"
#include "file_io.hpp"
#include "session_token.hpp"

namespace kv {

std::string generate_session_token(const WatchdogLog& log) {
    TokenBytes bytes{};
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) {
        log(LogStream::err, "BCryptGenRandom failed (" + ntstatus_text(status) + "); using fallback entropy");
        std::optional<std::uint64_t> nanoseconds;
        const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
        if (since_epoch.count() >= 0) {
            nanoseconds = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count());
        }
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(bytes.data()));
        bytes = fallback_token_bytes(fallback_entropy_input(GetCurrentProcessId(), nanoseconds, address));
    }
    return format_session_token(bytes);
}

std::filesystem::path session_token_path() { return data_root() / std::string(token_file_name); }

void write_session_token_file(const std::string& token, const WatchdogLog& log) {
    const auto path = session_token_path();
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    if (const auto written = write_whole_file(path, token); !written) {
        log(LogStream::err, "Cannot write session token file: " + written.error());
        return;
    }
    log(LogStream::out, "Session token written");
}

}  // namespace kv
