#include "replace_recovery.hpp"

#include "install_dir_walk.hpp"
#include "interrupted_replace.hpp"
#include "win32_replace_file_system.hpp"

namespace kv {

void recover_interrupted_replace(const std::filesystem::path& install, const LogSink& log) {
    const auto side_files =
        find_files_without_links(install, [](const std::filesystem::path& path) { return side_file_of(path).has_value(); });
    if (side_files.empty()) return;
    Win32ReplaceFileSystem files;
    repair_interrupted_replace(side_files, files, log);
}

void recover_interrupted_replace(const UpdateEnvironment& environment) {
    const auto install = environment.install_dir();
    if (install) recover_interrupted_replace(*install, environment.log);
}

}  // namespace kv
