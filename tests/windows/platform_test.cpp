// The common Win32 layer against Wine's real calls.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "canonical_path.hpp"
#include "child_process.hpp"
#include "command_line.hpp"
#include "data_paths.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv {
namespace {

TEST(SystemErrorText, SystemMessageWithoutLineEndThenTheCode) {
    const std::string text = system_error_text(ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(text.ends_with(" (os error 2)")) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    EXPECT_GT(text.size(), std::string(" (os error 2)").size());
}

TEST(SystemErrorText, KeepsTheLastErrorAcrossAnOwnerRelease) {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    SetLastError(ERROR_ACCESS_DENIED);
    event.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(CommandLine, TheSystemSplitsItBackIntoTheSameArguments) {
    const std::vector<std::u16string> arguments = {
        u"/FI", u"IMAGENAME eq a b.exe", u"/NH", u"", u"\"C:\\dir x\\u.exe\" service", u"C:\\trailing\\",
        u"C:\\with space\\", u"a\\\\\"b", u"tab\tand\nline", u"caf\u00e9",
    };
    const std::u16string line = build_command_line(u"C:\\Program Files\\tool.exe", arguments);
    int count = 0;
    const std::wstring wide_line = to_wstring(line);
    UniqueLocalMemory split(reinterpret_cast<HLOCAL>(CommandLineToArgvW(wide_line.c_str(), &count)));
    ASSERT_TRUE(split);
    auto* argv = static_cast<wchar_t**>(split.get());
    ASSERT_EQ(count, static_cast<int>(arguments.size()) + 1);
    EXPECT_EQ(std::wstring(argv[0]), L"C:\\Program Files\\tool.exe");
    for (size_t i = 0; i < arguments.size(); ++i) {
        EXPECT_EQ(to_u16string(argv[i + 1]), arguments[i]) << i;
    }
}

TEST(RunChild, ReportsExitCodeAndCapturesOutput) {
    const auto cmd = (system_directory() / L"cmd.exe").wstring();
    const auto echoed = run_child({cmd, {L"/c", L"echo hello& exit 3"}, ChildConsole::hidden, true});
    ASSERT_TRUE(echoed) << echoed.error();
    EXPECT_EQ(echoed->exit_code, 3u);
    EXPECT_NE(echoed->output.find("hello"), std::string::npos) << echoed->output;
}

TEST(RunChild, ReadsLargeOutputWithoutStalling) {
    const auto cmd = (system_directory() / L"cmd.exe").wstring();
    const auto listed = run_child({cmd, {L"/c", L"for /L %i in (1,1,3000) do @echo line %i"}, ChildConsole::hidden, true});
    ASSERT_TRUE(listed) << listed.error();
    EXPECT_NE(listed->output.find("line 3000"), std::string::npos);
}

TEST(RunChild, AMissingProgramIsASystemError) {
    const auto missing = run_child({L"C:\\no\\such\\tool.exe", {}, ChildConsole::hidden, false});
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().find("(os error ") != std::string::npos) << missing.error();
}

TEST(ReadToEnd, ReadsUntilTheWritersHaveGoneAndReportsAFailedRead) {
    UniqueFileHandle read_end, write_end;
    ASSERT_TRUE(CreatePipe(read_end.put(), write_end.put(), nullptr, 0));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(write_end.get(), "abc", 3, &written, nullptr));
    // Reading the write end fails: an error, not an empty output.
    const auto failed = read_to_end(write_end.get());
    ASSERT_FALSE(failed);
    EXPECT_NE(failed.error().find("(os error "), std::string::npos) << failed.error();
    write_end.reset();
    const auto text = read_to_end(read_end.get());
    ASSERT_TRUE(text) << text.error();
    EXPECT_EQ(*text, "abc");
}

TEST(CanonicalizePath, ResolvesRelativePartsToTheExtendedForm) {
    const auto folder = testing::scratch_dir("canonical");
    std::filesystem::create_directories(folder / L"a" / L"b");
    const auto canonical = canonicalize_path(folder / L"a" / L".." / L"a" / L"b");
    ASSERT_TRUE(canonical) << canonical.error();
    const std::wstring text = canonical->wstring();
    EXPECT_TRUE(text.starts_with(L"\\\\?\\")) << narrow(text);
    EXPECT_EQ(CompareStringOrdinal(without_extended_prefix(text).c_str(), -1, (folder / L"a" / L"b").c_str(), -1, TRUE),
              CSTR_EQUAL)
        << narrow(text);
    EXPECT_FALSE(canonicalize_path(folder / L"missing"));
}

TEST(DataPaths, FollowProgramDataAndTheWindowsFolder) {
    {
        testing::ScopedEnvironment unset(L"ProgramData", std::nullopt);
        EXPECT_EQ(data_root().wstring(), L"C:\\ProgramData\\Kestrivon\\Client");
    }
    {
        testing::ScopedEnvironment set(L"ProgramData", L"D:\\PD");
        EXPECT_EQ(logs_dir().wstring(), L"D:\\PD\\Kestrivon\\Client\\logs");
        EXPECT_EQ(updates_dir().wstring(), L"D:\\PD\\Kestrivon\\Client\\updates");
    }
    {
        testing::ScopedEnvironment empty(L"ProgramData", L"");
        EXPECT_EQ(data_root().wstring(), L"Kestrivon\\Client");
    }
    {
        testing::ScopedEnvironment root(L"SystemRoot", std::nullopt);
        testing::ScopedEnvironment windir(L"windir", L"E:\\Win");
        EXPECT_EQ(windows_directory().wstring(), L"E:\\Win");
    }
}

}  // namespace
}  // namespace kv
