#include "install_dir_walk.hpp"

#include <windows.h>

#include "unique_resource.hpp"

namespace kv {

std::vector<std::filesystem::path> find_files_without_links(const std::filesystem::path& root,
                                                            const std::function<bool(const std::filesystem::path&)>& wanted) {
    std::vector<std::filesystem::path> found;
    std::vector<std::filesystem::path> folders{root};
    while (!folders.empty()) {
        const std::filesystem::path folder = std::move(folders.back());
        folders.pop_back();
        WIN32_FIND_DATAW entry{};
        const UniqueFindHandle search(FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                                       nullptr, FIND_FIRST_EX_LARGE_FETCH));
        if (!search) continue;
        do {
            const std::wstring_view name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            // The attributes come from the folder listing itself, so a link is known as one
            // before anything opens or enters it.
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
            std::filesystem::path path = folder / entry.cFileName;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                folders.push_back(std::move(path));
            } else if (wanted(path)) {
                found.push_back(std::move(path));
            }
        } while (FindNextFileW(search.get(), &entry));
    }
    return found;
}

}  // namespace kv
