#include "child_process.hpp"

#include <algorithm>
#include <memory>
#include <thread>

#include "command_line.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {

// One output stream of the child, drained on its own thread. The state is shared so a
// reader still blocked after a time-out (a grandchild may hold the pipe) outlives the call.
struct OutputDrain {
    UniqueFileHandle read_end;
    Result<std::string> text = std::string();
};

namespace {

UniqueFileHandle open_inheritable_null_device() {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    return UniqueFileHandle(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inheritable, OPEN_EXISTING, 0, nullptr));
}

std::thread start_drain(const std::shared_ptr<OutputDrain>& drain) {
    return std::thread([drain] { drain->text = read_to_end(drain->read_end.get()); });
}

Status make_pipe(std::shared_ptr<OutputDrain>& drain, UniqueFileHandle& write_end) {
    drain = std::make_shared<OutputDrain>();
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    if (!CreatePipe(drain->read_end.put(), write_end.put(), &inheritable, 0)) return fail(last_error_text());
    SetHandleInformation(drain->read_end.get(), HANDLE_FLAG_INHERIT, 0);
    return ok();
}

// The caller's environment with the given variables set; empty when nothing is to change.
std::wstring environment_block(const std::vector<std::pair<std::wstring, std::wstring>>& changes) {
    if (changes.empty()) return {};
    std::vector<std::wstring> entries;
    if (wchar_t* strings = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) entries.emplace_back(entry);
        FreeEnvironmentStringsW(strings);
    }
    for (const auto& [name, value] : changes) {
        const std::wstring prefix = name + L"=";
        std::erase_if(entries, [&](const std::wstring& entry) {
            return entry.size() >= prefix.size() &&
                   CompareStringOrdinal(entry.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                        static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
        });
        entries.push_back(prefix + value);
    }
    std::wstring block;
    for (const auto& entry : entries) {
        block += entry;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

}  // namespace

Result<std::string> read_to_end(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_BROKEN_PIPE) return text;  // every writer has gone
            return fail(system_error_text(error));
        }
        text.append(buffer, read);
    }
}

StartedChild::~StartedChild() {
    if (output_reader_.joinable()) output_reader_.detach();
    if (error_reader_.joinable()) error_reader_.detach();
}

Result<StartedChild> start_child(const ChildRun& run) {
    std::wstring command_line = windows_command_line(run.program, run.arguments);

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    DWORD flags = run.console == ChildConsole::inherit ? 0 : CREATE_NO_WINDOW;
    BOOL inherit = FALSE;

    UniqueFileHandle null_device;
    std::shared_ptr<OutputDrain> output_drain, error_drain;
    UniqueFileHandle output_write, error_write;
    UniqueAttributeList attributes;
    std::vector<HANDLE> inherited;

    if (run.capture_output || run.capture_error || run.console == ChildConsole::hidden) {
        null_device = open_inheritable_null_device();
        if (!null_device) return fail(last_error_text());
        HANDLE output = null_device.get();
        HANDLE error = null_device.get();
        if (run.capture_output) {
            if (Status made = make_pipe(output_drain, output_write); !made) return fail(made.error());
            output = output_write.get();
        }
        if (run.capture_error) {
            if (Status made = make_pipe(error_drain, error_write); !made) return fail(made.error());
            error = error_write.get();
        }
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = null_device.get();
        startup.StartupInfo.hStdOutput = output;
        startup.StartupInfo.hStdError = error;
        // Only these handles reach the child, whatever else of ours is inheritable.
        for (HANDLE handle : {null_device.get(), output, error}) {
            if (std::find(inherited.begin(), inherited.end(), handle) == inherited.end()) inherited.push_back(handle);
        }
        if (!attributes.initialise(1) ||
            !UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                       inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
            return fail(last_error_text());
        }
        startup.lpAttributeList = attributes.get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
        inherit = TRUE;
    }

    std::wstring environment = environment_block(run.environment);
    if (!environment.empty()) flags |= CREATE_UNICODE_ENVIRONMENT;

    PROCESS_INFORMATION created{};
    if (!CreateProcessW(run.program.c_str(), command_line.data(), nullptr, nullptr, inherit, flags,
                        environment.empty() ? nullptr : environment.data(), nullptr, &startup.StartupInfo, &created)) {
        return fail(last_error_text());
    }
    StartedChild child;
    child.process_.reset(created.hProcess);
    const UniqueHandle thread(created.hThread);
    child.time_limit_ = run.time_limit;

    // Our copies of the write ends must go, or the reads never see the end of the output.
    output_write.reset();
    error_write.reset();
    child.output_ = std::move(output_drain);
    child.error_ = std::move(error_drain);
    if (child.output_) child.output_reader_ = start_drain(child.output_);
    if (child.error_) child.error_reader_ = start_drain(child.error_);
    return child;
}

Result<ChildOutcome> StartedChild::finish() {
    ChildOutcome outcome;
    if (time_limit_) {
        const auto deadline = std::chrono::steady_clock::now() + time_limit_->limit;
        for (;;) {
            const DWORD waited = WaitForSingleObject(process_.get(), static_cast<DWORD>(time_limit_->poll.count()));
            if (waited == WAIT_OBJECT_0) break;
            if (waited == WAIT_FAILED) {
                const std::string why = last_error_text();
                TerminateProcess(process_.get(), 1);
                return fail(why);
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                TerminateProcess(process_.get(), 1);
                WaitForSingleObject(process_.get(), static_cast<DWORD>(time_limit_->after_terminate.count()));
                outcome.timed_out = true;
                return outcome;  // whatever still holds the pipes is not waited for
            }
        }
    } else if (WaitForSingleObject(process_.get(), INFINITE) == WAIT_FAILED) {
        return fail(last_error_text());
    }

    if (output_reader_.joinable()) output_reader_.join();
    if (error_reader_.joinable()) error_reader_.join();
    const auto collect = [](const std::shared_ptr<OutputDrain>& drain, std::string& into) -> Status {
        if (!drain) return ok();
        if (!drain->text) return fail(drain->text.error());
        into = std::move(drain->text).value();
        return ok();
    };
    if (Status collected = collect(output_, outcome.output); !collected) return fail(collected.error());
    if (Status collected = collect(error_, outcome.error_output); !collected) return fail(collected.error());
    if (!GetExitCodeProcess(process_.get(), &outcome.exit_code)) return fail(last_error_text());
    return outcome;
}

Result<ChildOutcome> run_child(const ChildRun& run) {
    auto started = start_child(run);
    if (!started) return fail(started.error());
    return started->finish();
}

}  // namespace kv
