#pragma once
// The data folders belong to the service: made with an explicit protected DACL, and
// repaired (owner and DACL) when a customer made them first or changed them.
#include <windows.h>

#include <filesystem>
#include <string>

#include "log_sink.hpp"
#include "result.hpp"

namespace kv {

// The Kestrivon folder above data_root: readable for signed-in users, nothing more, so
// nobody but an administrator can rename data_root away and put a link in its place.
inline constexpr wchar_t vendor_folder_sddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;IU)";
// data_root and updates: signed-in users may read, and create files and folders here
// (0x1200af on the folder itself), with full control of what they created (CREATOR OWNER):
// the station client publishes updates and the watchdog writes its token.
inline constexpr wchar_t shared_data_folder_sddl[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200af;;;IU)(A;OICIIO;0x1200a9;;;IU)(A;OICIIO;FA;;;CO)";
// logs: read-only for signed-in users.
inline constexpr wchar_t logs_folder_sddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;IU)";

// Reads and sets a folder's owner and DACL through its handle; tests replace it where the
// host file system keeps no descriptors of its own (Wine derives them from mode bits).
class FolderSecurityAccess {
public:
    virtual ~FolderSecurityAccess() = default;
    virtual Result<std::string> read(HANDLE folder) const;  // owner and DACL as SDDL
    // This folder only: nothing is pushed down into what it holds, where a link could carry it.
    virtual Status write(HANDLE folder, PSECURITY_DESCRIPTOR descriptor) const;
};
const FolderSecurityAccess& system_folder_security();

// Creates the folder when missing, or sets owner and DACL when they differ from `sddl`;
// a link in the folder's place is removed where the system allows it, else refused. Logs a
// repair; never touches what the folder holds.
Status secure_data_folder(const std::filesystem::path& folder, const wchar_t* sddl, const LogSink& log,
                          const FolderSecurityAccess& access = system_folder_security());

// The Kestrivon folder, data_root, logs and updates, outermost first; the first failure.
Status secure_data_folders(const LogSink& log);

// The owner and DACL of a folder as SDDL, read through a handle that never follows a link.
Result<std::string> folder_security_text(const std::filesystem::path& folder);

}  // namespace kv
