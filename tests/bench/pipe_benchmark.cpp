// "PING" round trips on the privileged pipe against a bare message-mode echo server, both
// served in this process and measured in the same run with the same client code: one caller
// at a time, then four concurrent callers (as many as the pipe has instances).
// Run: wine build/windows/bench/pipe_benchmark.exe [seconds per measurement]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "privileged_pipe.hpp"
#include "privileged_exchange.hpp"
#include "process_utilities.hpp"
#include "unique_resource.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The least a pipe server can do per connection: read, answer, wait for the client to close.
void start_echo_server(const std::wstring& name) {
    for (int i = 0; i < 4; ++i) {
        kv::UniqueFileHandle instance(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 4, 4096, 4096, 0,
                                                       nullptr));
        if (!instance) {
            std::fprintf(stderr, "echo server: CreateNamedPipe failed (%lu)\n", GetLastError());
            std::exit(1);
        }
        std::thread([pipe = instance.release()] {
            for (;;) {
                if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
                    DisconnectNamedPipe(pipe);
                    continue;
                }
                char buffer[512];
                DWORD read = 0, written = 0;
                if (ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr)) {
                    WriteFile(pipe, "OK\n", 3, &written, nullptr);
                    ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr);  // returns when the client closes
                }
                DisconnectNamedPipe(pipe);
            }
        }).detach();
    }
}

struct Figures {
    double per_second = 0;
    double median_ms = 0;
    int failures = 0;
};

// `callers` threads each send PING after PING for `duration`; the figures are their sum.
Figures measure(const std::wstring& name, std::chrono::seconds duration, int callers) {
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(callers));
    std::vector<int> failures(static_cast<std::size_t>(callers), 0);
    const auto start = Clock::now();
    kv::station::Settings settings;
    settings.privileged_pipe = name;
    std::vector<std::thread> threads;
    for (int caller = 0; caller < callers; ++caller) {
        threads.emplace_back([&, caller] {
            auto& mine = latencies[static_cast<std::size_t>(caller)];
            while (Clock::now() - start < duration) {
                const auto before = Clock::now();
                const auto reply = kv::station::privileged_exchange("PING", settings);
                const auto after = Clock::now();
                if (!reply.ok() || reply.text != "OK") {
                    ++failures[static_cast<std::size_t>(caller)];
                    continue;
                }
                mine.push_back(std::chrono::duration<double, std::milli>(after - before).count());
            }
        });
    }
    for (auto& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    Figures figures;
    for (int caller = 0; caller < callers; ++caller) {
        all.insert(all.end(), latencies[static_cast<std::size_t>(caller)].begin(), latencies[static_cast<std::size_t>(caller)].end());
        figures.failures += failures[static_cast<std::size_t>(caller)];
    }
    figures.per_second = static_cast<double>(all.size()) / seconds;
    if (!all.empty()) {
        std::nth_element(all.begin(), all.begin() + static_cast<long>(all.size() / 2), all.end());
        figures.median_ms = all[all.size() / 2];
    }
    return figures;
}

void print(const char* label, const Figures& figures) {
    std::printf("%-26s %8.1f round trips/s, median %.3f ms, %d failures\n", label, figures.per_second, figures.median_ms,
                figures.failures);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::chrono::seconds duration(argc > 1 ? std::max(1, _wtoi(argv[1])) : 5);
    const std::wstring suffix = std::to_wstring(GetCurrentProcessId());
    const std::wstring privileged = L"\\\\.\\pipe\\kestrivon-bench-privileged-" + suffix;
    const std::wstring echo = L"\\\\.\\pipe\\kestrivon-bench-echo-" + suffix;

    static kv::SupervisionRecords records;
    kv::PrivilegedPipeSettings settings;
    settings.pipe_name = privileged;
    settings.records = &records;
    settings.log = [](std::string_view line) { std::fprintf(stderr, "pipe log: %.*s\n", static_cast<int>(line.size()), line.data()); };
    // The same work as the real caller check (the caller's image is read), then this program is let in.
    settings.check_caller = [](std::uint32_t pid) -> kv::Status {
        if (!kv::process_image_path(pid)) return kv::fail("caller image unreadable");
        return kv::ok();
    };
    kv::start_privileged_pipe(std::move(settings));
    start_echo_server(echo);
    kv::station::Settings probe;
    probe.privileged_pipe = privileged;
    probe.busy_timeout = 100ms;
    for (int i = 0; i < 100 && !kv::station::privileged_exchange("PING", probe).ok(); ++i) std::this_thread::sleep_for(50ms);

    (void)measure(echo, 1s, 1);  // warm-up
    const Figures bare = measure(echo, duration, 1);
    const Figures served = measure(privileged, duration, 1);
    const Figures bare_four = measure(echo, duration, 4);
    const Figures served_four = measure(privileged, duration, 4);
    print("bare echo pipe, 1 caller:", bare);
    print("privileged PING, 1 caller:", served);
    print("bare echo pipe, 4 callers:", bare_four);
    print("privileged PING, 4 callers:", served_four);
    std::printf("ratio privileged/bare, 1 caller: throughput %.2f, median latency %.2f\n", served.per_second / bare.per_second,
                served.median_ms / bare.median_ms);
    std::printf("ratio privileged/bare, 4 callers: throughput %.2f\n", served_four.per_second / bare_four.per_second);
    std::printf("ratio privileged 4 callers/1 caller: throughput %.2f\n", served_four.per_second / served.per_second);
    return bare.failures + served.failures + bare_four.failures + served_four.failures == 0 ? 0 : 1;
}
