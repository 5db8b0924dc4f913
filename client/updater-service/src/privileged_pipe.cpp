#include "privileged_pipe.hpp"

#include <windows.h>

#include <chrono>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "client_identity.hpp"
#include "command_dispatch.hpp"
#include "pipe_commands.hpp"
#include "process_termination.hpp"
#include "process_utilities.hpp"
#include "service_log.hpp"
#include "unicode_case.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

constexpr DWORD instance_count = 4;
constexpr DWORD buffer_size = 4096;
constexpr std::size_t request_size = 512;
constexpr auto retry_pause = 5s;
constexpr auto request_wait = 5s;
constexpr auto request_poll = 20ms;
constexpr auto linger_limit = 2s;
constexpr auto linger_poll = 10ms;

std::string code_text(DWORD code) { return "(error " + std::to_string(code) + ")"; }

class PipeServer : public std::enable_shared_from_this<PipeServer> {
public:
    explicit PipeServer(PrivilegedPipeSettings settings)
        : settings_(std::move(settings)),
          dispatch_({settings_.records, settings_.clock, settings_.log, settings_.handlers,
                     [log = settings_.log](std::string_view argument) { return kill_process_command(argument, log); }}) {}

    void listen() {
        settings_.log("privileged pipe: listener starting");
        std::vector<UniqueFileHandle> instances;
        for (;;) {
            instances.clear();
            Status made = ok();
            for (DWORD i = 0; i < instance_count && made; ++i) {
                auto instance = create_privileged_pipe_instance(settings_.pipe_name, i == 0);
                if (instance) {
                    instances.push_back(std::move(instance).value());
                } else {
                    made = fail(instance.error());
                }
            }
            if (made) break;
            instances.clear();
            settings_.log("privileged pipe error: " + made.error());
            std::this_thread::sleep_for(retry_pause);
        }
        for (auto& instance : instances) start_serving(std::move(instance));
    }

private:
    void start_serving(UniqueFileHandle instance) {
        try {
            std::thread([self = shared_from_this(), handle = std::move(instance)]() mutable { self->serve_forever(std::move(handle)); })
                .detach();
        } catch (const std::system_error& error) {
            // The instance went with the thread's function and is closed; the others serve on.
            settings_.log(std::string("privileged pipe error: cannot start a serving thread: ") + error.what());
        }
    }

    void serve_forever(UniqueFileHandle instance) {
        for (;;) {
            serve_connections(instance.get());
            instance.reset();
            for (;;) {
                std::this_thread::sleep_for(retry_pause);
                auto replacement = create_privileged_pipe_instance(settings_.pipe_name, false);
                if (replacement) {
                    instance = std::move(replacement).value();
                    break;
                }
                settings_.log("privileged pipe error: " + replacement.error());
            }
        }
    }

    // Returns only when waiting for a client fails unexpectedly.
    void serve_connections(HANDLE pipe) {
        for (;;) {
            if (!ConnectNamedPipe(pipe, nullptr)) {
                const DWORD error = GetLastError();
                if (error == ERROR_NO_DATA) {  // the client came and went before the wait
                    DisconnectNamedPipe(pipe);
                    continue;
                }
                if (error != ERROR_PIPE_CONNECTED) {
                    settings_.log("privileged pipe: ConnectNamedPipe failed " + code_text(error));
                    return;
                }
            }
            serve_connection(pipe);
            DisconnectNamedPipe(pipe);
        }
    }

    Status check_caller(HANDLE pipe, std::uint32_t& pid) {
        ULONG client = 0;
        if (!GetNamedPipeClientProcessId(pipe, &client) || client == 0) return fail("cannot resolve caller pid");
        pid = client;
        if (settings_.check_caller) return settings_.check_caller(pid);
        return check_caller_image(pid, current_executable());
    }

    static Result<std::string> read_request(HANDLE pipe) {
        const auto deadline = std::chrono::steady_clock::now() + request_wait;
        for (;;) {
            DWORD available = 0;
            if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
                return fail("caller went away " + code_text(GetLastError()));
            }
            if (available > 0) break;
            if (std::chrono::steady_clock::now() >= deadline) return fail("caller sent no request before the read timeout");
            std::this_thread::sleep_for(request_poll);
        }
        char buffer[request_size] = {};
        DWORD read = 0;
        // A message longer than the buffer fails the read (ERROR_MORE_DATA): refused whole.
        if (!ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) || read == 0) return fail("read failed");
        return std::string(buffer, read);
    }

    static void linger(HANDLE pipe) {
        const auto deadline = std::chrono::steady_clock::now() + linger_limit;
        while (std::chrono::steady_clock::now() < deadline) {
            DWORD available = 0;
            if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return;
            std::this_thread::sleep_for(linger_poll);
        }
    }

    void serve_connection(HANDLE pipe) {
        std::uint32_t pid = 0;
        if (Status allowed = check_caller(pipe, pid); !allowed) {
            settings_.log("privileged pipe refused a caller: " + allowed.error());
            return;
        }
        const auto request = read_request(pipe);
        std::string reply = request ? dispatch_.execute(decode_request(*request), pid) : reply_text(fail(request.error()));
        reply += '\n';
        DWORD written = 0;
        if (!WriteFile(pipe, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr)) return;
        linger(pipe);
    }

    PrivilegedPipeSettings settings_;
    CommandDispatch dispatch_;
};

}  // namespace

Result<UniqueFileHandle> create_privileged_pipe_instance(const std::wstring& pipe_name, bool first) {
    UniqueLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(privileged_pipe_sddl, SDDL_REVISION_1, descriptor.put(), nullptr)) {
        return fail("SDDL conversion failed " + code_text(GetLastError()));
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    const DWORD open_mode = PIPE_ACCESS_DUPLEX | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    const DWORD pipe_mode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_REJECT_REMOTE_CLIENTS | PIPE_WAIT;
    UniqueFileHandle instance(
        CreateNamedPipeW(pipe_name.c_str(), open_mode, pipe_mode, instance_count, buffer_size, buffer_size, 0, &attributes));
    if (!instance) return fail("CreateNamedPipe failed " + code_text(GetLastError()));
    return instance;
}

Status check_caller_image(std::uint32_t pid, const Result<std::filesystem::path>& service_executable) {
    const auto image = process_image_path(pid);
    if (!image) return fail("caller image unreadable");
    if (!service_executable) return fail("current_exe failed: " + service_executable.error());
    const std::filesystem::path folder = service_executable->parent_path();
    if (folder.empty() || folder == *service_executable) return fail("service has no parent directory");
    const std::string expected = narrow((folder / widen(client_file_name)).wstring());
    if (unicode_lower(*image) != unicode_lower(expected)) return fail("caller not authorized: " + *image);
    return ok();
}

void start_privileged_pipe(PrivilegedPipeSettings settings) {
    static SteadyClock steady;
    if (settings.clock == nullptr) settings.clock = &steady;
    const LogSink log = settings.log;
    auto server = std::make_shared<PipeServer>(std::move(settings));
    try {
        std::thread([server] { server->listen(); }).detach();
    } catch (const std::system_error& error) {
        log(std::string("privileged pipe error: cannot start the listener: ") + error.what());
    }
}

}  // namespace kv
