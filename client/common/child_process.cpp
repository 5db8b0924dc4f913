#include "child_process.hpp"

#include "command_line.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

UniqueFileHandle open_inheritable_null_device() {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    return UniqueFileHandle(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inheritable, OPEN_EXISTING, 0, nullptr));
}

std::string read_until_closed(HANDLE pipe) {
    std::string output;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) && read > 0) output.append(buffer, read);
    return output;
}

}  // namespace

Result<ChildOutcome> run_child(const ChildRun& run) {
    std::vector<std::u16string> arguments;
    for (const auto& argument : run.arguments) arguments.push_back(to_u16string(argument));
    std::wstring command_line = to_wstring(build_command_line(to_u16string(run.program), arguments));

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    DWORD flags = run.console == ChildConsole::hidden ? CREATE_NO_WINDOW : 0;
    BOOL inherit = FALSE;

    UniqueFileHandle null_device;
    UniqueFileHandle output_read;
    UniqueFileHandle output_write;
    UniqueAttributeList attributes;
    HANDLE inherited[2]{};

    if (run.capture_output || run.console == ChildConsole::hidden) {
        null_device = open_inheritable_null_device();
        if (!null_device) return fail(last_error_text());
        HANDLE output = null_device.get();
        if (run.capture_output) {
            SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
            if (!CreatePipe(output_read.put(), output_write.put(), &inheritable, 0)) return fail(last_error_text());
            SetHandleInformation(output_read.get(), HANDLE_FLAG_INHERIT, 0);
            output = output_write.get();
        }
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = null_device.get();
        startup.StartupInfo.hStdOutput = output;
        startup.StartupInfo.hStdError = null_device.get();
        // Only these handles reach the child, whatever else of ours is inheritable.
        inherited[0] = null_device.get();
        inherited[1] = output;
        const DWORD inherited_count = output == null_device.get() ? 1 : 2;
        if (!attributes.initialise(1) ||
            !UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                       inherited_count * sizeof(HANDLE), nullptr, nullptr)) {
            return fail(last_error_text());
        }
        startup.lpAttributeList = attributes.get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
        inherit = TRUE;
    }

    PROCESS_INFORMATION created{};
    if (!CreateProcessW(run.program.c_str(), command_line.data(), nullptr, nullptr, inherit, flags, nullptr, nullptr,
                        &startup.StartupInfo, &created)) {
        return fail(last_error_text());
    }
    const UniqueHandle process(created.hProcess);
    const UniqueHandle thread(created.hThread);

    ChildOutcome outcome;
    if (run.capture_output) {
        // Our copy of the write end must go, or the read never sees the end of the output.
        output_write.reset();
        outcome.output = read_until_closed(output_read.get());
    }
    WaitForSingleObject(process.get(), INFINITE);
    if (!GetExitCodeProcess(process.get(), &outcome.exit_code)) return fail(last_error_text());
    return outcome;
}

}  // namespace kv
