#pragma once
// The service's privileged pipe: four instances of \\.\pipe\kestrivon-privileged, each
// served by its own thread, one request and one reply line per connection, answering only
// Kestrivon-Client.exe from the service's own folder.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "log_sink.hpp"
#include "monotonic_clock.hpp"
#include "privileged_command_handlers.hpp"
#include "privileged_pipe_client.hpp"
#include "result.hpp"
#include "supervision_records.hpp"
#include "unique_resource.hpp"

namespace kv {

// SYSTEM and Administrators full access; signed-in (interactive) users read and write data
// (0x12019b: the pipe's generic read and write without FILE_CREATE_PIPE_INSTANCE, 0x4), so no
// customer program can create an instance of this name and answer the client in our place.
inline constexpr wchar_t privileged_pipe_sddl[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12019b;;;IU)";
inline constexpr unsigned long privileged_pipe_user_rights = 0x12019b;

struct PrivilegedPipeSettings {
    std::wstring pipe_name = privileged_pipe_name;
    SupervisionRecords* records = nullptr;  // must outlive the process's serving threads
    LogSink log;
    PrivilegedCommandHandlers handlers;
    // Whether the connected process may be served, or why not. Empty: the real check,
    // check_caller_image against this program's own file.
    std::function<Status(std::uint32_t pid)> check_caller;
    const MonotonicClock* clock = nullptr;  // the steady clock when empty
};

// One duplex, message-mode instance that rejects remote clients; `first` adds the
// first-instance flag so that the call fails when another process owns the name.
Result<UniqueFileHandle> create_privileged_pipe_instance(const std::wstring& pipe_name, bool first);

// The caller's image must be Kestrivon-Client.exe in the folder of `service_executable`
// (whole paths compared in Unicode lower case). Errors are the refusal reasons.
Status check_caller_image(std::uint32_t pid, const Result<std::filesystem::path>& service_executable);

// Starts the listener on a detached thread and returns at once. The listener retries every
// 5 s until it has all four instances, then hands each to a serving thread that lives as
// long as the process.
void start_privileged_pipe(PrivilegedPipeSettings settings);

}  // namespace kv
