// Stand-in for sc.exe: Wine's own lacks "config" and "description". Speaks the verbs the
// service program uses through the service-manager API, and appends each call's arguments,
// one per field, to "{own path}.calls" so tests can see exactly what arrived.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "unique_resource.hpp"
#include "win_text.hpp"

namespace {

using Options = std::map<std::wstring, std::wstring>;

void record_call(int argc, wchar_t** argv) {
    wchar_t own_path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    std::ofstream calls(std::filesystem::path(std::wstring(own_path, length) + L".calls"), std::ios::binary | std::ios::app);
    for (int i = 1; i < argc; ++i) calls << (i > 1 ? "\t" : "") << kv::narrow(argv[i]);
    calls << "\n";
}

DWORD start_type(const Options& options) {
    const auto found = options.find(L"start=");
    if (found == options.end()) return SERVICE_NO_CHANGE;
    if (found->second == L"auto") return SERVICE_AUTO_START;
    if (found->second == L"demand") return SERVICE_DEMAND_START;
    if (found->second == L"disabled") return SERVICE_DISABLED;
    return SERVICE_NO_CHANGE;
}

const wchar_t* option(const Options& options, const wchar_t* key) {
    const auto found = options.find(key);
    return found == options.end() ? nullptr : found->second.c_str();
}

// "restart/60000/restart/60000/none/0" into the service manager's action list.
std::vector<SC_ACTION> parse_actions(const std::wstring& text) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (size_t slash; (slash = text.find(L'/', start)) != std::wstring::npos; start = slash + 1) {
        parts.push_back(text.substr(start, slash - start));
    }
    parts.push_back(text.substr(start));
    std::vector<SC_ACTION> actions;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        SC_ACTION action{};
        action.Type = parts[i] == L"restart" ? SC_ACTION_RESTART : parts[i] == L"reboot" ? SC_ACTION_REBOOT : SC_ACTION_NONE;
        action.Delay = static_cast<DWORD>(std::wcstoul(parts[i + 1].c_str(), nullptr, 10));
        actions.push_back(action);
    }
    return actions;
}

int failed(const char* what) {
    std::fprintf(stderr, "[SC] %s FAILED %lu\n", what, GetLastError());
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    record_call(argc, argv);
    if (argc < 3) return 1;
    const std::wstring verb = argv[1];
    const wchar_t* name = argv[2];
    Options options;
    std::vector<std::wstring> rest;
    for (int i = 3; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument.ends_with(L"=") && i + 1 < argc) {
            options[argument] = argv[++i];
        } else {
            rest.push_back(argument);
        }
    }

    const kv::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return failed("OpenSCManager");
    if (verb == L"create") {
        const DWORD type = start_type(options);
        const kv::UniqueServiceHandle service(CreateServiceW(
            manager.get(), name, option(options, L"DisplayName="), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
            type == SERVICE_NO_CHANGE ? SERVICE_DEMAND_START : type, SERVICE_ERROR_NORMAL, option(options, L"binPath="),
            nullptr, nullptr, nullptr, nullptr, nullptr));
        return service ? 0 : failed("CreateService");
    }
    const kv::UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
    if (!service) return failed("OpenService");
    if (verb == L"config") {
        return ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, start_type(options), SERVICE_NO_CHANGE,
                                    option(options, L"binPath="), nullptr, nullptr, nullptr, nullptr, nullptr,
                                    option(options, L"DisplayName="))
                   ? 0
                   : failed("ChangeServiceConfig");
    }
    if (verb == L"description") {
        std::wstring text = rest.empty() ? L"" : rest.front();
        SERVICE_DESCRIPTIONW description{text.data()};
        return ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description) ? 0 : failed("ChangeServiceConfig2");
    }
    if (verb == L"failure") {
        std::vector<SC_ACTION> actions = parse_actions(option(options, L"actions=") ? option(options, L"actions=") : L"");
        SERVICE_FAILURE_ACTIONSW failure{};
        failure.dwResetPeriod = static_cast<DWORD>(std::wcstoul(option(options, L"reset=") ? option(options, L"reset=") : L"0", nullptr, 10));
        failure.cActions = static_cast<DWORD>(actions.size());
        failure.lpsaActions = actions.data();
        return ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure) ? 0 : failed("ChangeServiceConfig2");
    }
    if (verb == L"start") return StartServiceW(service.get(), 0, nullptr) ? 0 : failed("StartService");
    if (verb == L"stop") {
        SERVICE_STATUS status{};
        return ControlService(service.get(), SERVICE_CONTROL_STOP, &status) ? 0 : failed("ControlService");
    }
    if (verb == L"delete") return DeleteService(service.get()) ? 0 : failed("DeleteService");
    return 1;
}
