#pragma once
// The one place where a Win32 error code becomes text.
#include <windows.h>

#include <string>

namespace kv {

// "{system message} (os error {code})".
std::string system_error_text(DWORD code);

// system_error_text(GetLastError()); call it before anything can change the last error.
std::string last_error_text();

}  // namespace kv
