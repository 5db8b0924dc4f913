// The replace phase and the repair of an interrupted one, on a file system in memory that
// dies after any step: whatever the moment, after the repair every file is entirely old or
// entirely new, none is missing and no side file is left.
#include "file_replacement.hpp"

#include <gtest/gtest.h>

#include <cstdint>

#include "interrupted_replace.hpp"
#include "memory_file_system.hpp"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t now_seconds = 1765000000;
constexpr std::uint32_t service_pid = 42;

struct Station {
    testing::MemoryFileSystem disk;
    std::vector<PlannedFile> plan;
    std::map<fs::path, std::optional<std::string>> old_content;  // nothing: the file did not exist
    std::vector<std::string> logged;

    // An install folder with four files, and an update of three of them plus one in a new folder.
    Station() {
        disk.folders = {"/", "/i", "/i/lib"};
        disk.files = {{"/i/Kestrivon-Client.exe", "client v1"}, {"/i/a.txt", "a v1"}, {"/i/lib/b.dll", "b v1"}, {"/i/c.txt", "c v1"}};
        for (const auto& [path, content] : disk.files) old_content[path] = content;
        for (const auto& [path, content] : {std::pair<fs::path, std::string>{"/i/Kestrivon-Client.exe", "client v2 (longer)"},
                                            {"/i/lib/b.dll", "b v2"},
                                            {"/i/new/sub/d.txt", "d v2"},
                                            {"/i/a.txt", "a v2"}}) {
            plan.push_back({content, path});
            old_content.try_emplace(path, std::nullopt);
        }
    }

    Status replace() { return replace_planned_files(plan, disk, [] { return now_seconds; }, service_pid); }

    void repair() {
        std::vector<fs::path> listed;
        for (const auto& [path, content] : disk.files) listed.push_back(path);
        repair_interrupted_replace(listed, disk, [this](std::string_view line) { logged.emplace_back(line); });
    }

    // Every planned file old or new, the new ones a prefix of the plan, nothing else changed.
    void expect_each_file_old_or_new(const std::string& moment) const {
        bool still_new = true;
        for (const PlannedFile& entry : plan) {
            const auto found = disk.files.find(entry.destination);
            const std::optional<std::string> now =
                found == disk.files.end() ? std::nullopt : std::optional<std::string>(found->second);
            const bool is_new = now == entry.content;
            EXPECT_TRUE(is_new || now == old_content.at(entry.destination)) << moment << ": " << entry.destination;
            EXPECT_FALSE(is_new && !still_new) << moment << ": " << entry.destination << " replaced out of order";
            still_new = still_new && is_new;
        }
        EXPECT_EQ(disk.files.at("/i/c.txt"), "c v1") << moment;
        for (const auto& [path, content] : disk.files) {
            EXPECT_FALSE(side_file_of(path)) << moment << ": side file left: " << path;
        }
    }
};

int steps_of_a_whole_replace() {
    Station station;
    EXPECT_TRUE(station.replace());
    return station.disk.steps;
}

TEST(FileReplacement, AnUndisturbedReplaceLeavesOnlyTheNewFiles) {
    Station station;
    ASSERT_TRUE(station.replace());
    for (const auto& entry : station.plan) EXPECT_EQ(station.disk.files.at(entry.destination), entry.content);
    station.expect_each_file_old_or_new("undisturbed");
}

TEST(FileReplacement, AProcessDeadAfterAnyStepIsRepairedToOldOrNew) {
    const int total = steps_of_a_whole_replace();
    ASSERT_GT(total, 10);
    for (const bool torn : {false, true}) {
        for (int n = 0; n <= total; ++n) {
            const std::string moment = "died after step " + std::to_string(n) + (torn ? ", its last write torn" : "");
            Station station;
            station.disk.dies_after = n;
            station.disk.tears_its_last_write = torn;
            (void)station.replace();
            EXPECT_EQ(station.disk.dead(), n < total) << moment;
            station.disk.restart();
            station.repair();
            station.expect_each_file_old_or_new(moment);
            // Nothing is left for a second repair.
            const auto lines = station.logged.size();
            station.repair();
            EXPECT_EQ(station.logged.size(), lines) << moment;
        }
    }
}

TEST(FileReplacement, ARepairThatDiesTooIsFinishedByTheNextOne) {
    const int total = steps_of_a_whole_replace();
    for (int n = 0; n <= total; ++n) {
        for (int m = 0; m < 4; ++m) {
            const std::string moment = "died after step " + std::to_string(n) + ", its repair after " + std::to_string(m);
            Station station;
            station.disk.dies_after = n;
            (void)station.replace();
            station.disk.restart();
            station.disk.dies_after = station.disk.steps + m;
            station.repair();
            station.disk.restart();
            station.repair();
            station.expect_each_file_old_or_new(moment);
        }
    }
}

TEST(FileReplacement, DeathBetweenTheTwoRenamesRestoresTheBackupWithOneLinePerRepair) {
    Station station;
    // create folder, remove stale copy, write copy, move the client aside: then it dies.
    station.disk.dies_after = 4;
    (void)station.replace();
    ASSERT_FALSE(station.disk.files.contains("/i/Kestrivon-Client.exe"));
    station.disk.restart();
    station.repair();
    EXPECT_EQ(station.disk.files.at("/i/Kestrivon-Client.exe"), "client v1");
    EXPECT_EQ(station.logged,
              (std::vector<std::string>{
                  "interrupted replace repaired: removed new copy /i/Kestrivon-Client.exe.kv-new",
                  "interrupted replace repaired: restored /i/Kestrivon-Client.exe from /i/Kestrivon-Client.exe.kv-old-1765000000-42"}));
}

TEST(FileReplacement, AFailedStepKeepsEarlierFilesAndPutsTheFailingOneBack) {
    using Injection = void (*)(testing::MemoryFileSystem&);
    const struct {
        const char* name;
        Injection inject;
        std::string error;
        bool third_replaced;  // the new folder's file, before the failing fourth or failing itself
        bool copy_left;
    } cases[] = {
        {"rename into place", [](testing::MemoryFileSystem& disk) { disk.refused_renames_to.insert("/i/new/sub/d.txt"); },
         "replace failed for /i/new/sub/d.txt: the file is in use", false, true},
        {"write or flush of the copy", [](testing::MemoryFileSystem& disk) { disk.refused_writes.insert("/i/new/sub/d.txt.kv-new"); },
         "replace failed for /i/new/sub/d.txt: the disk is full", false, false},
        {"folder", [](testing::MemoryFileSystem& disk) { disk.files["/i/new"] = "a file"; },
         "replace failed for /i/new/sub/d.txt: a file is in the way", false, false},
        {"move aside", [](testing::MemoryFileSystem& disk) { disk.refused_renames_to.insert("/i/a.txt.kv-old-1765000000-42"); },
         "replace failed for /i/a.txt: the file is in use", true, true},
    };
    for (const auto& c : cases) {
        Station station;
        c.inject(station.disk);
        const Status replaced = station.replace();
        ASSERT_FALSE(replaced) << c.name;
        EXPECT_EQ(replaced.error(), c.error) << c.name;
        EXPECT_EQ(station.disk.files.at("/i/Kestrivon-Client.exe"), "client v2 (longer)") << c.name;
        EXPECT_EQ(station.disk.files.at("/i/lib/b.dll"), "b v2") << c.name;
        EXPECT_EQ(station.disk.files.contains("/i/new/sub/d.txt"), c.third_replaced) << c.name;
        EXPECT_EQ(station.disk.files.at("/i/a.txt"), "a v1") << c.name;
        // A copy left by the failure goes with the next repair.
        bool copy_left = false;
        for (const auto& [path, content] : station.disk.files) copy_left = copy_left || side_file_of(path).has_value();
        EXPECT_EQ(copy_left, c.copy_left) << c.name;
        station.repair();
        station.expect_each_file_old_or_new(c.name);
    }
}

TEST(FileReplacement, BackupsAreNamedPerFileWithTheTimeAndPid) {
    EXPECT_EQ(new_copy_path("/i/a.txt"), fs::path("/i/a.txt.kv-new"));
    EXPECT_EQ(backup_path("/i/a.txt", 1765000000, 42), fs::path("/i/a.txt.kv-old-1765000000-42"));
    Station station;
    std::uint64_t clock = 100;
    station.disk.dies_after = 6 + 4;  // the second file is moved aside, then the process dies
    (void)replace_planned_files(station.plan, station.disk, [&clock] { return clock++; }, 7);
    EXPECT_TRUE(station.disk.files.contains("/i/lib/b.dll.kv-old-101-7"));
}

TEST(SideFiles, NamesOfTheReplaceAndNothingElse) {
    const struct {
        const char* path;
        std::optional<SideFile::Kind> kind;
        const char* destination;
        std::uint64_t seconds;
        std::uint32_t pid;
    } cases[] = {
        {"/i/a.txt.kv-new", SideFile::Kind::new_copy, "/i/a.txt", 0, 0},
        {"/i/lib/a.txt.kv-old-1765000000-42", SideFile::Kind::backup, "/i/lib/a.txt", 1765000000, 42},
        {"/i/a.kv-old-1-2.kv-old-3-4", SideFile::Kind::backup, "/i/a.kv-old-1-2", 3, 4},
        {"/i/a.kv-old-99999999999999999999999-4", SideFile::Kind::backup, "/i/a", UINT64_MAX, 4},
        {"/i/a.txt.kv-old-0-0", SideFile::Kind::backup, "/i/a.txt", 0, 0},
        {"/i/.kv-new", std::nullopt, "", 0, 0},
        {"/i/.kv-old-1-2", std::nullopt, "", 0, 0},
        {"/i/a.txt.kv-old-1765000000", std::nullopt, "", 0, 0},
        {"/i/a.txt.kv-old--42", std::nullopt, "", 0, 0},
        {"/i/a.txt.kv-old-12x-4", std::nullopt, "", 0, 0},
        {"/i/a.txt.kv-old-1-2-3", std::nullopt, "", 0, 0},
        {"/i/a.txt.kv-new.txt", std::nullopt, "", 0, 0},
        {"/i/a.txt.KV-NEW", std::nullopt, "", 0, 0},
        {"/i/a.txt", std::nullopt, "", 0, 0},
    };
    for (const auto& c : cases) {
        const auto side = side_file_of(c.path);
        ASSERT_EQ(side.has_value(), c.kind.has_value()) << c.path;
        if (!side) continue;
        EXPECT_EQ(side->kind, *c.kind) << c.path;
        EXPECT_EQ(side->destination, fs::path(c.destination)) << c.path;
        EXPECT_EQ(side->unix_seconds, c.seconds) << c.path;
        EXPECT_EQ(side->pid, c.pid) << c.path;
    }
}

TEST(InterruptedReplaceRepair, TheNewestBackupComesBackAndTheOthersGo) {
    testing::MemoryFileSystem disk;
    disk.folders = {"/", "/i"};
    disk.files = {{"/i/a.txt.kv-old-100-9", "older"},
                  {"/i/a.txt.kv-old-200-3", "newest"},
                  {"/i/a.txt.kv-old-200-1", "same second"},
                  {"/i/b.txt", "b"},
                  {"/i/b.txt.kv-old-300-1", "b old"},
                  {"/i/notes.txt", "not ours"}};
    std::vector<std::string> logged;
    std::vector<fs::path> listed;
    for (const auto& [path, content] : disk.files) listed.push_back(path);
    repair_interrupted_replace(listed, disk, [&](std::string_view line) { logged.emplace_back(line); });
    EXPECT_EQ(disk.files, (std::map<fs::path, std::string>{{"/i/a.txt", "newest"}, {"/i/b.txt", "b"}, {"/i/notes.txt", "not ours"}}));
    EXPECT_EQ(logged, (std::vector<std::string>{"interrupted replace repaired: restored /i/a.txt from /i/a.txt.kv-old-200-3",
                                                "interrupted replace repaired: removed backup /i/a.txt.kv-old-200-1",
                                                "interrupted replace repaired: removed backup /i/a.txt.kv-old-100-9",
                                                "interrupted replace repaired: removed backup /i/b.txt.kv-old-300-1"}));
}

TEST(InterruptedReplaceRepair, ARepairThatFailsSaysSoAndNeverOverwrites) {
    testing::MemoryFileSystem disk;
    disk.folders = {"/", "/i"};
    disk.files = {{"/i/a.txt.kv-old-1-1", "old"}, {"/i/gone.kv-new", "x"}};
    disk.refused_renames_to.insert("/i/a.txt");
    std::vector<std::string> logged;
    repair_interrupted_replace({"/i/a.txt.kv-old-1-1", "/i/gone.kv-new", "/i/vanished.kv-new"}, disk,
                               [&](std::string_view line) { logged.emplace_back(line); });
    EXPECT_EQ(logged, (std::vector<std::string>{"interrupted replace repair failed for /i/a.txt.kv-old-1-1: the file is in use",
                                                "interrupted replace repaired: removed new copy /i/gone.kv-new",
                                                "interrupted replace repair failed for /i/vanished.kv-new: the file does not exist"}));
    EXPECT_EQ(disk.files.at("/i/a.txt.kv-old-1-1"), "old");
}

}  // namespace
}  // namespace kv
