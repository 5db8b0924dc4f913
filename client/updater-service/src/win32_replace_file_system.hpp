#pragma once
// The replace phase's file system on Win32: the calls the service makes for real.
#include "file_replacement.hpp"

namespace kv {

class Win32ReplaceFileSystem final : public ReplaceFileSystem {
public:
    bool exists(const std::filesystem::path& path) override;
    Status create_folders(const std::filesystem::path& folder) override;
    Status write_flushed(const std::filesystem::path& path, std::string_view bytes) override;
    Status rename(const std::filesystem::path& from, const std::filesystem::path& to, bool replace_existing) override;
    Status remove(const std::filesystem::path& path) override;
};

}  // namespace kv
