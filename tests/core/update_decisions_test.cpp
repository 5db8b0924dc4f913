#include "update_decisions.hpp"

#include <gtest/gtest.h>

#include "marker_policy.hpp"

namespace kv {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

TEST(SafeRelativeComponents, SlashesOfEitherKindAddressTheSameFile) {
    const struct {
        const char* path;
        std::vector<std::string> components;
    } cases[] = {
        {"Kestrivon-Client.exe", {"Kestrivon-Client.exe"}},
        {"lib/sub/x.dll", {"lib", "sub", "x.dll"}},
        {"lib\\sub\\x.dll", {"lib", "sub", "x.dll"}},
        {"lib/./sub//x.dll", {"lib", "sub", "x.dll"}},
        {"dir.with..dots/file..txt", {"dir.with..dots", "file..txt"}},
    };
    for (const auto& c : cases) {
        const auto split = safe_relative_components(c.path);
        ASSERT_TRUE(split) << c.path;
        EXPECT_EQ(*split, c.components) << c.path;
    }
}

TEST(SafeRelativeComponents, UnsafePathsAreRefusedWithThePathAsGiven) {
    for (const std::string& path : {std::string(""), std::string("/etc/x"), std::string("\\x"), std::string("\\\\server\\share\\x"),
                                   std::string("C:x"), std::string("C:\\x"), std::string("a/b:stream"), std::string(".."),
                                   std::string("a/../b"), std::string("a\\..\\..\\b"), std::string("a/.."),
                                   std::string("a\0b", 3)}) {
        const auto split = safe_relative_components(path);
        ASSERT_FALSE(split) << path;
        EXPECT_EQ(split.error(), "unsafe relative path: " + path);
    }
}

TEST(Digests, LowercasedExactOrTrimmedIgnoringCase) {
    const std::string digest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string upper = digest;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(digest_matches_lowercased(upper, digest));
    EXPECT_FALSE(digest_matches_lowercased(upper + " ", digest));
    EXPECT_FALSE(digest_matches_lowercased(digest.substr(1), digest));
    EXPECT_TRUE(digest_matches_trimmed(" " + upper + "\n", digest));
    EXPECT_FALSE(digest_matches_trimmed(digest + "0", digest));
}

TEST(Settling, YoungFilesWaitFutureOnesDoNot) {
    const auto now = system_clock::time_point(seconds(1765000000));
    EXPECT_TRUE(still_settling(now, now - 1s, 2s));
    EXPECT_TRUE(still_settling(now, now - 1999ms, 2s));
    EXPECT_FALSE(still_settling(now, now - 2s, 2s));
    EXPECT_FALSE(still_settling(now, now + 5s, 2s));
    EXPECT_FALSE(still_settling(now, std::nullopt, 2s));
    EXPECT_EQ(whole_seconds_age(now, now - 29900ms), 29);
    EXPECT_EQ(whole_seconds_age(now, now + 1s), std::nullopt);
}

TEST(PathLiesWithin, ComparesWholeComponents) {
    EXPECT_TRUE(path_lies_within("\\\\?\\C:\\K\\Client\\a.exe", "\\\\?\\C:\\K\\Client"));
    EXPECT_TRUE(path_lies_within("\\\\?\\C:\\K\\Client", "\\\\?\\C:\\K\\Client\\"));
    EXPECT_FALSE(path_lies_within("\\\\?\\C:\\K\\Client2\\a.exe", "\\\\?\\C:\\K\\Client"));
    EXPECT_FALSE(path_lies_within("\\\\?\\C:\\K", "\\\\?\\C:\\K\\Client"));
}

TEST(PrivateInstallerFolderName, OnlyLettersDigitsAndDashesAfterThePrefix) {
    const std::pair<const char*, bool> cases[] = {
        {"Kestrivon-installer-12-1765000000000000000-0", true}, {"Kestrivon-installer-abc-DEF", true},
        {"Kestrivon-installer-", false}, {"Kestrivon-installer-1_2", false}, {"Kestrivon-installer-1 2", false},
        {"Kestrivon-installer-1.2", false}, {"kestrivon-installer-1", false}, {"Kestrivon-installer-\xC3\xA9", false},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(is_private_installer_folder_name(name), expected) << name;
}

TEST(InstallerArguments, SilentByDefaultAndLoggedEscaped) {
    EXPECT_EQ(installer_arguments({}), (std::vector<std::string>{"/S"}));
    EXPECT_EQ(installer_arguments({"/quiet"}), (std::vector<std::string>{"/quiet"}));
    EXPECT_EQ(format_argument_list({"/S"}), "[\"/S\"]");
    EXPECT_EQ(format_argument_list({"a b", "C:\\x \"y\""}), "[\"a b\", \"C:\\\\x \\\"y\\\"\"]");
    EXPECT_EQ(format_argument_list({}), "[]");
}

TEST(DecideRelaunch, WaitsOnlyForTheInstallerItStarted) {
    using Outcome = RelaunchDecision::Outcome;
    const PendingRelaunch recorded{"4", "C:\\Windows\\Temp\\Kestrivon-installer-1-2-0\\setup.exe", 1, 777, 42};
    const PendingRelaunch legacy{"4", "", 1, 0, 42};
    const std::string folder = "C:\\ProgramData\\Kestrivon\\Client\\updates\\installer";
    const InstallerProcessView running{true, 259, recorded.installer_image, 777};
    const struct {
        const char* name;
        PendingRelaunch marker;
        InstallerProcessView process;
        Outcome outcome;
        std::string reason;
    } cases[] = {
        {"cannot open", recorded, {false, {}, {}, {}}, Outcome::relaunch, ""},
        {"exited", recorded, {true, 0, recorded.installer_image, 777}, Outcome::relaunch, ""},
        {"exit code unreadable", recorded, {true, std::nullopt, recorded.installer_image, 777}, Outcome::relaunch, ""},
        {"still the installer", recorded, running, Outcome::wait, ""},
        {"pid reused", recorded, {true, 259, recorded.installer_image, 778}, Outcome::foreign, "creation time 778 != recorded 777"},
        {"no creation time", recorded, {true, 259, recorded.installer_image, std::nullopt}, Outcome::foreign, "creation time unreadable"},
        {"no image", recorded, {true, 259, std::nullopt, 777}, Outcome::foreign, "image unreadable"},
        {"image differs in case", recorded, {true, 259, "c:\\windows\\temp\\Kestrivon-installer-1-2-0\\setup.exe", 777},
         Outcome::foreign, "image c:\\windows\\temp\\Kestrivon-installer-1-2-0\\setup.exe != recorded " + recorded.installer_image},
        {"legacy inside installer folder", legacy, {true, 259, folder + "\\setup.exe", std::nullopt}, Outcome::wait, ""},
        {"legacy elsewhere", legacy, {true, 259, "C:\\evil.exe", std::nullopt}, Outcome::foreign,
         "legacy marker, image C:\\evil.exe outside installer dir"},
        {"legacy unreadable", legacy, {true, 259, std::nullopt, std::nullopt}, Outcome::foreign, "legacy marker, image unreadable"},
        {"legacy exited", legacy, {true, 1, std::nullopt, std::nullopt}, Outcome::relaunch, ""},
    };
    for (const auto& c : cases) {
        const RelaunchDecision decision = decide_relaunch(c.marker, c.process, folder);
        EXPECT_EQ(decision.outcome, c.outcome) << c.name;
        EXPECT_EQ(decision.reason, c.reason) << c.name;
    }
    EXPECT_EQ(decide_unconfirmed_relaunch(29).outcome, Outcome::wait);
    EXPECT_EQ(decide_unconfirmed_relaunch(30).outcome, Outcome::relaunch);
    EXPECT_EQ(decide_unconfirmed_relaunch(std::nullopt).outcome, Outcome::relaunch);
}

TEST(JudgeMarker, AgesFromFileTimeClaimAndWatchTakeTheLargest) {
    using Outcome = MarkerVerdict::Outcome;
    const auto now = system_clock::time_point(seconds(1765000000));
    const std::uint64_t now_unix = 1765000000;
    const struct {
        const char* name;
        MarkerKind kind;
        MarkerObservation seen;
        Outcome outcome;
        std::string reason;
    } cases[] = {
        {"fresh", MarkerKind::update, {std::nullopt, now, now - 1s, {}, {}}, Outcome::valid, ""},
        {"parse failure", MarkerKind::update, {"parse failed: x", now, now, {}, {}}, Outcome::invalid, "parse failed: x"},
        {"299 s ahead", MarkerKind::installer, {std::nullopt, now, now + 299s, {}, {}}, Outcome::valid, ""},
        {"300 s ahead", MarkerKind::installer, {std::nullopt, now, now + 300s, {}, {}}, Outcome::valid, ""},
        {"300 s and 1 ns ahead", MarkerKind::installer, {std::nullopt, now, now + 300s + 1ns, {}, {}}, Outcome::invalid,
         "modified time is in the future"},
        {"exactly at the cap", MarkerKind::update, {std::nullopt, now, now - 900s, {}, {}}, Outcome::valid, ""},
        {"just past the cap", MarkerKind::update, {std::nullopt, now, now - 900s - 1ms, {}, {}}, Outcome::expired, ""},
        {"relaunch has a longer cap", MarkerKind::relaunch, {std::nullopt, now, now - 1000s, now_unix - 1000, {}}, Outcome::valid, ""},
        {"created long ago", MarkerKind::relaunch, {std::nullopt, now, now - 1s, now_unix - 2000, {}}, Outcome::expired, ""},
        {"created ahead", MarkerKind::relaunch, {std::nullopt, now, now, now_unix + 301, {}}, Outcome::invalid,
         "created_at is in the future"},
        {"created at the far end", MarkerKind::relaunch, {std::nullopt, now, now, UINT64_MAX, {}}, Outcome::invalid,
         "created_at is in the future"},
        {"created tolerably ahead", MarkerKind::relaunch, {std::nullopt, now, now, now_unix + 300, {}}, Outcome::valid, ""},
        {"watched too long", MarkerKind::installer, {std::nullopt, now, now - 1s, {}, 901s}, Outcome::expired, ""},
        {"watched a while", MarkerKind::installer, {std::nullopt, now, now - 1s, {}, 899s}, Outcome::valid, ""},
    };
    for (const auto& c : cases) {
        const MarkerVerdict verdict = judge_marker(c.kind, c.seen);
        EXPECT_EQ(verdict.outcome, c.outcome) << c.name;
        EXPECT_EQ(verdict.reason, c.reason) << c.name;
    }
}

TEST(MarkerLines, NameTheFileReasonAgeAndCap) {
    EXPECT_EQ(invalid_marker_line(MarkerKind::update, "not a JSON object"),
              "ignoring invalid pending-update.json marker (not a JSON object); removing it");
    EXPECT_EQ(expired_marker_line(MarkerKind::relaunch, 2000999ms),
              "ignoring expired pending-relaunch.json marker (age 2000s, cap 1800s); removing it");
}

TEST(JudgeMarkerContent, EachKindByItsOwnFormat) {
    const struct {
        MarkerKind kind;
        const char* bytes;
        std::optional<std::string> reason;
        std::optional<std::uint64_t> created_at;
    } cases[] = {
        {MarkerKind::update, "{}", std::nullopt, std::nullopt},
        {MarkerKind::update, "[]", "not a JSON object", std::nullopt},
        {MarkerKind::update, "{", "parse failed: ", std::nullopt},
        {MarkerKind::installer, R"({"version":"1","installer_path":"p","sha256":"s"})",
         "parse failed: missing field `signature`", std::nullopt},
        {MarkerKind::relaunch, R"({"version":"1","installer_pid":0,"created_at":17})", std::nullopt, 17},
    };
    for (const auto& c : cases) {
        const MarkerContentVerdict verdict = judge_marker_content(c.kind, c.bytes);
        EXPECT_EQ(verdict.invalid_reason.has_value(), c.reason.has_value()) << c.bytes;
        if (c.reason && verdict.invalid_reason) {
            EXPECT_TRUE(verdict.invalid_reason->starts_with(*c.reason)) << *verdict.invalid_reason;
        }
        EXPECT_EQ(verdict.created_at, c.created_at) << c.bytes;
    }
}

}  // namespace
}  // namespace kv
