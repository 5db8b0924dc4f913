#pragma once
// Whole-file reads and writes with the system error code kept, for the update engine's
// files and markers.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "result.hpp"

namespace kv {

struct FileRead {
    std::string bytes;
    DWORD error = ERROR_SUCCESS;  // ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when absent

    bool ok() const { return error == ERROR_SUCCESS; }
    bool missing() const { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }
};

FileRead read_whole_file(const std::filesystem::path& path);

// Writes every byte to an open file; fails with the system error text.
Status write_all_bytes(HANDLE file, std::string_view bytes);

// Creates or truncates the file and writes all bytes; optionally flushes them to disk.
// Fails with the system error text.
Status write_whole_file(const std::filesystem::path& path, std::string_view bytes, bool flush = false);

// Creates the file new (fails if it exists), writes all bytes and flushes them to disk.
Status write_new_file_flushed(const std::filesystem::path& path, std::string_view bytes);

std::optional<std::chrono::system_clock::time_point> file_modified_time(const std::filesystem::path& path);

// FILETIME (100 ns since 1601) <-> system clock.
std::chrono::system_clock::time_point from_file_time(const FILETIME& time);
FILETIME to_file_time(std::chrono::system_clock::time_point time);

bool path_exists(const std::filesystem::path& path);

// Creates the folder and every missing level above it; fails with the system error text.
Status create_folders(const std::filesystem::path& folder);

}  // namespace kv
