#include "token_file.hpp"

#include "data_paths.hpp"
#include "file_io.hpp"
#include "station_protocol.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv::station {

std::filesystem::path token_path(const Settings& settings) {
    if (!settings.token_file.empty()) return settings.token_file;
    return data_root() / L"watchdog.token";
}

Answer read_token(const Settings& settings) {
    const std::filesystem::path path = token_path(settings);
    const FileRead file = read_whole_file(path);
    if (!file.ok()) return answer(KV_ERR_TOKEN, "cannot read " + narrow(path.wstring()) + ": " + system_error_text(file.error));
    Answer token = check_token(file.bytes);
    if (!token.ok()) token.text = narrow(path.wstring()) + " holds no session token: " + token.text;
    return token;
}

}  // namespace kv::station
