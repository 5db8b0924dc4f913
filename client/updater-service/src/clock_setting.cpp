#include "clock_setting.hpp"

#include <windows.h>

#include <chrono>
#include <string>

#include "clock_budget.hpp"
#include "log_line.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

Result<std::vector<LedgerEntry>> read_ledger() {
    UniqueRegistryKey key;
    const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, clock_ledger_key, 0, KEY_READ, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) return std::vector<LedgerEntry>{};
    if (opened != ERROR_SUCCESS) return fail("ledger open failed: " + system_error_text(static_cast<DWORD>(opened)));
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS queried = RegQueryValueExW(key.get(), clock_ledger_value, nullptr, &type, nullptr, &size);
    if (queried == ERROR_FILE_NOT_FOUND) return std::vector<LedgerEntry>{};
    if (queried != ERROR_SUCCESS) return fail("ledger read failed: " + system_error_text(static_cast<DWORD>(queried)));
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) {
        return fail("ledger read failed: " + system_error_text(ERROR_INVALID_DATA));
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    queried = RegQueryValueExW(key.get(), clock_ledger_value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    if (queried != ERROR_SUCCESS) return fail("ledger read failed: " + system_error_text(static_cast<DWORD>(queried)));
    text.resize(size / sizeof(wchar_t));
    // The strings of a multi-string are read as lines; the trailing terminators go.
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    for (auto& c : text) {
        if (c == L'\0') c = L'\n';
    }
    return parse_ledger(narrow(text));
}

Status write_ledger(const std::vector<LedgerEntry>& entries) {
    UniqueRegistryKey key;
    const LSTATUS created =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, clock_ledger_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    if (created != ERROR_SUCCESS) return fail("ledger create failed: " + system_error_text(static_cast<DWORD>(created)));
    const std::wstring text = widen(format_ledger(entries));
    const LSTATUS written = RegSetValueExW(key.get(), clock_ledger_value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    if (written != ERROR_SUCCESS) return fail("ledger write failed: " + system_error_text(static_cast<DWORD>(written)));
    return ok();
}

}  // namespace

Status set_system_clock_to(std::int64_t target) {
    const std::int64_t ticks = target * 10000000LL + 116444736000000000LL;
    FILETIME file_time{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32)};
    SYSTEMTIME system_time{};
    if (!FileTimeToSystemTime(&file_time, &system_time)) {
        return fail("FileTimeToSystemTime failed: " + std::to_string(GetLastError()));
    }
    if (!SetSystemTime(&system_time)) return fail("SetSystemTime failed: " + std::to_string(GetLastError()));
    return ok();
}

Result<std::int64_t> ClockSetting::set_clock(std::optional<std::string_view> argument) {
    const auto target = parse_settime_epoch(argument);
    if (!target) return fail(target.error());

    std::lock_guard lock(lock_);
    if (clock_set_too_recently(last_set_, dependencies_.clock->now())) return fail("the clock was set less than a minute ago");
    const std::int64_t previous = dependencies_.wall_seconds();
    const auto ledger = read_ledger();
    if (!ledger) return fail(ledger.error());
    const auto planned = plan_clock_adjustment(*ledger, previous, *target);
    if (!planned) return fail(planned.error());
    // Recorded first: a crash after the clock moved must still count against the budget.
    if (Status written = write_ledger(*planned); !written) return fail(written.error());
    if (Status moved = dependencies_.set_system_clock(*target); !moved) {
        // The clock did not move, so the adjustment is given back: the ledger as it was read.
        if (Status restored = write_ledger(*ledger); !restored) {
            return fail(moved.error() + " (budget not given back: " + restored.error() + ")");
        }
        return fail(moved.error());
    }
    last_set_ = dependencies_.clock->now();
    return previous;
}

ClockSetting& service_clock_setting() {
    static SteadyClock clock;
    static ClockSetting setting({&clock,
                                 [] { return static_cast<std::int64_t>(unix_seconds(std::chrono::system_clock::now())); },
                                 set_system_clock_to});
    return setting;
}

}  // namespace kv
