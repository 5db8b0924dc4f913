#include "process_scan.hpp"

#include <windows.h>
#include <tlhelp32.h>

#include <optional>
#include <vector>

#include "canonical_path.hpp"
#include "text.hpp"
#include "unicode_case.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {

bool is_valid_utf16(const std::wstring& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

Result<std::wstring> running_executable_path() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return fail("Cannot get current exe path: " + last_error_text());
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        if (buffer.size() >= 32768) return fail("Cannot get current exe path: " + system_error_text(ERROR_INSUFFICIENT_BUFFER));
        buffer.resize(buffer.size() * 2);
    }
    if (!is_valid_utf16(buffer)) return fail("Invalid path encoding");
    return buffer;
}

Result<std::wstring> resolve_client_path() {
    auto executable = running_executable_path();
    if (!executable) return fail(executable.error());
    const std::filesystem::path path(*executable);
    if (!path.has_parent_path() || path.parent_path() == path) return fail("Cannot get parent directory");
    return (path.parent_path() / client_executable_name).wstring();
}

std::string normalise_image_path(const std::wstring& path) {
    std::wstring text = path;
    if (auto canonical = canonicalize_path(path); canonical && is_valid_utf16(canonical->wstring())) text = canonical->wstring();
    text = without_extended_prefix(std::move(text));
    for (auto& c : text) {
        if (c == L'/') c = L'\\';
    }
    return unicode_lower(narrow(text));
}

Result<std::wstring> process_image_path_of(unsigned long process_id) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process) return fail(last_error_text());
    std::wstring buffer(32768, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!QueryFullProcessImageNameW(process.get(), 0, buffer.data(), &size)) return fail(last_error_text());
    buffer.resize(size);
    return buffer;
}

namespace {

struct ScanFilter {
    bool skip_self_and_other_sessions = false;
};

bool scan_for(const std::wstring& executable, ScanFilter filter) {
    std::wstring target_name = std::filesystem::path(executable).filename().wstring();
    if (target_name.empty() || !is_valid_utf16(target_name)) target_name = client_executable_name;
    const std::string target_name_text = narrow(target_name);
    const std::string target_path = normalise_image_path(executable);

    const DWORD own_pid = GetCurrentProcessId();
    std::optional<DWORD> own_session;
    if (DWORD session = 0; ProcessIdToSessionId(own_pid, &session)) own_session = session;

    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry)) return false;
    do {
        const std::wstring name(entry.szExeFile);  // up to the first NUL
        if (!equals_ignoring_ascii_case(narrow(name), target_name_text)) continue;
        if (filter.skip_self_and_other_sessions) {
            if (entry.th32ProcessID == own_pid) continue;
            if (own_session) {
                DWORD session = 0;
                if (!ProcessIdToSessionId(entry.th32ProcessID, &session) || session != *own_session) continue;
            }
        }
        const auto image = process_image_path_of(entry.th32ProcessID);
        if (image && normalise_image_path(*image) == target_path) return true;
    } while (Process32NextW(snapshot.get(), &entry));
    return false;
}

}  // namespace

bool find_other_instance(const std::wstring& executable) { return scan_for(executable, {true}); }

bool is_client_running(const std::wstring& executable) { return scan_for(executable, {false}); }

}  // namespace kv
