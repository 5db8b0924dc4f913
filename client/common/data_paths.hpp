#pragma once
// Where both programs keep their files. Every path is built afresh from the environment.
#include <filesystem>

namespace kv {

// %ProgramData% taken unchanged whenever it is set (also when empty), else C:\ProgramData.
std::filesystem::path program_data_base();

std::filesystem::path data_root();    // base\Kestrivon\Client
std::filesystem::path logs_dir();     // data_root\logs
std::filesystem::path updates_dir();  // data_root\updates

// %SystemRoot%, else %windir%, else C:\Windows.
std::filesystem::path windows_directory();

// The system folder (System32) as the system reports it; the place of sc.exe and friends.
std::filesystem::path system_directory();

}  // namespace kv
