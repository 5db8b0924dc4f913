#pragma once
// Finding processes by executable path, and the watchdog's own paths.
#include <filesystem>
#include <string>

#include "result.hpp"

namespace kv {

inline constexpr wchar_t client_executable_name[] = L"Kestrivon-Client.exe";

// The running executable's full path, as valid Unicode text.
// Fails with "Cannot get current exe path: {system error}" or "Invalid path encoding".
Result<std::wstring> running_executable_path();

// Kestrivon-Client.exe beside the running executable.
Result<std::wstring> resolve_client_path();

// Canonical when possible, without \\?\, "/" as "\", lower-cased by Unicode rules (UTF-8).
std::string normalise_image_path(const std::wstring& path);

// Another process of this Windows session runs the executable (the caller never counts).
bool find_other_instance(const std::wstring& executable);

// Any process on the machine runs the executable.
bool is_client_running(const std::wstring& executable);

// A process's full image path; fails when it cannot be opened or read.
Result<std::wstring> process_image_path_of(unsigned long process_id);

bool is_valid_utf16(const std::wstring& text);

}  // namespace kv
