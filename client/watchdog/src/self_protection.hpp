#pragma once
// Denies the signed-in account the rights to suspend, inject into or re-permission the
// watchdog's process. Termination and queries stay allowed.
#include <cstdint>

#include "watchdog_log.hpp"

namespace kv {

// WRITE_OWNER, WRITE_DAC, PROCESS_SUSPEND_RESUME, PROCESS_SET_INFORMATION, PROCESS_DUP_HANDLE,
// PROCESS_VM_WRITE, PROCESS_VM_OPERATION, PROCESS_CREATE_THREAD.
inline constexpr std::uint32_t denied_to_user = 0x000C0A6A;
// WRITE_OWNER, WRITE_DAC: the owner's implicit right to rewrite the DACL goes too.
inline constexpr std::uint32_t denied_to_owner_rights = 0x000C0000;
inline constexpr wchar_t owner_rights_sid[] = L"S-1-3-4";

// Applied once at startup; every failure leaves the process security unchanged.
void apply_self_protection(const WatchdogLog& log);

}  // namespace kv
