#include "process_termination_rules.hpp"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace kv {
namespace {

TEST(ProcessTermination, PidParsing) {
    const struct {
        std::string_view text;
        std::optional<std::uint32_t> pid;
    } cases[] = {
        {"42", 42u},           {"+42", 42u},         {"0", 0u},           {"007", 7u},
        {"4294967295", 4294967295u}, {"-42", std::nullopt}, {"+", std::nullopt}, {"42x", std::nullopt},
        {"4294967296", std::nullopt}, {"", std::nullopt}, {"++4", std::nullopt}, {" 4", std::nullopt},
        {"0x10", std::nullopt}, {"99999999999999999999999", std::nullopt}, {"\xD9\xA3", std::nullopt},  // Arabic-Indic 3
    };
    for (const auto& c : cases) EXPECT_EQ(parse_pid(c.text), c.pid) << c.text;
}

TEST(ProcessTermination, StemOfTheImage) {
    const struct {
        std::string_view path;
        std::string_view stem;
    } cases[] = {
        {"C:\\Windows\\explorer.exe", "explorer"}, {"D:/x/EXPLORER.EXE", "EXPLORER"},  {"C:\\a.b\\tool", "tool"},
        {"C:\\x\\.hidden", ".hidden"},             {"C:\\x\\a.tar.gz", "a.tar"},        {"C:\\x\\name.", "name"},
        {"plain.exe", "plain"},                    {"C:\\x\\..", ".."},
    };
    for (const auto& c : cases) EXPECT_EQ(image_stem(c.path), c.stem) << c.path;
}

TEST(ProcessTermination, ProtectedNamesByWholeStemIgnoringAsciiCase) {
    for (const char* stem : {"Kestrivon-Client", "KESTRIVON", "kestrivon client", "Kestrivon-Client-Updater", "kestrivon-webfilter"}) {
        EXPECT_TRUE(is_protected_product_name(stem)) << stem;
    }
    for (const char* stem : {"Kestrivon-Client2", "Kestrivon-Clients", "kestrivon ", "Kestrivon-Updater"}) {
        EXPECT_FALSE(is_protected_product_name(stem)) << stem;
    }
    for (const char* stem : {"EXPLORER", "svchost", "System Idle Process", "wmiprvse", "SecurityHealthSystray", "lsm"}) {
        EXPECT_TRUE(is_protected_system_name(stem)) << stem;
    }
    for (const char* stem : {"svchost2", "my-explorer", "system idle", "\xC4\xB0" "dllhost", "lsmx"}) {
        EXPECT_FALSE(is_protected_system_name(stem)) << stem;
    }
}

class FakeProcesses final : public TerminationTarget {
public:
    std::optional<std::string> image_path(std::uint32_t pid) override {
        const auto found = images.find(pid);
        return found == images.end() ? std::nullopt : std::optional(found->second);
    }
    Status terminate(std::uint32_t pid) override {
        terminated.push_back(pid);
        if (refuse_open) return fail("OpenProcess failed (error 5)");
        return ok();
    }
    std::map<std::uint32_t, std::string> images;
    std::vector<std::uint32_t> terminated;
    bool refuse_open = false;
};

TEST(ProcessTermination, ChecksInOrderAndOnlyASuccessIsLogged) {
    FakeProcesses processes;
    processes.images = {{42, "C:\\Games\\game.exe"},
                        {77, "C:\\Program Files\\Kestrivon\\Kestrivon-Client.exe"},
                        {78, "E:\\tools\\KESTRIVON.EXE"},
                        {79, "E:\\tools\\Kestrivon-Client2.exe"},
                        {80, "C:\\Windows\\EXPLORER.EXE"},
                        {81, "C:\\Users\\x\\svchost2.exe"},
                        {500, "C:\\Program Files\\Kestrivon\\Kestrivon-Client-Updater.exe"}};
    const std::uint32_t own = 500;
    const struct {
        std::string_view argument;
        std::string reply;
    } cases[] = {
        {"+42", "OK 42"},
        {"-42", "ERR pid is not a number"},
        {"+", "ERR pid is not a number"},
        {"42x", "ERR pid is not a number"},
        {"4294967296", "ERR pid is not a number"},
        {"0", "ERR refusing to kill self"},
        {"500", "ERR refusing to kill self"},
        {"9", "ERR target not found"},
        {"77", "ERR refusing to kill Kestrivon process 'Kestrivon-Client'"},
        {"78", "ERR refusing to kill Kestrivon process 'KESTRIVON'"},
        {"79", "OK 79"},
        {"80", "ERR refusing to kill system process 'EXPLORER'"},
        {"81", "OK 81"},
    };
    std::vector<std::string> log;
    for (const auto& c : cases) {
        const auto reply = run_kill_command(c.argument, own, processes, [&](std::string_view line) { log.emplace_back(line); });
        EXPECT_EQ(reply ? *reply : "ERR " + reply.error(), c.reply) << c.argument;
    }
    EXPECT_EQ(processes.terminated, (std::vector<std::uint32_t>{42, 79, 81}));
    EXPECT_EQ(log, (std::vector<std::string>{"privileged kill ok pid=42 name=game", "privileged kill ok pid=79 name=Kestrivon-Client2",
                                             "privileged kill ok pid=81 name=svchost2"}));
}

TEST(ProcessTermination, ATerminationFailureIsTheReplyAndNotLogged) {
    FakeProcesses processes;
    processes.images = {{42, "C:\\Games\\game.exe"}};
    processes.refuse_open = true;
    std::vector<std::string> log;
    const auto reply = run_kill_command("42", 1, processes, [&](std::string_view line) { log.emplace_back(line); });
    ASSERT_FALSE(reply);
    EXPECT_EQ(reply.error(), "OpenProcess failed (error 5)");
    EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace kv
