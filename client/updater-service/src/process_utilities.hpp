#pragma once
// Small operations on other processes. The first three act on every process of an image
// name (a file name without folder) in every session, through the system's own tools.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// Asks each process of the image to close (taskkill without /F). Silent on any failure.
void request_image_exit(std::string_view image_name);

// Ends each process of the image by force. Silent on any failure.
void kill_image(std::string_view image_name);

// False whenever tasklist cannot give a clean answer.
bool is_image_running(std::string_view image_name);

// The full Win32 image path, or nothing when the process cannot be queried or has ended.
std::optional<std::string> process_image_path(std::uint32_t pid);
// The same through a handle holding at least PROCESS_QUERY_LIMITED_INFORMATION.
std::optional<std::string> process_image_path(HANDLE process);

// The same without a leading "\\?\": how the installer's image is recorded and compared.
std::optional<std::string> process_image_text(std::uint32_t pid);

// 100-ns intervals since 1601-01-01 UTC. `process` needs limited query access.
std::optional<std::uint64_t> process_creation_time(HANDLE process);

}  // namespace kv
