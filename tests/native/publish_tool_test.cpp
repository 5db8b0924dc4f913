// kestrivon-publish as an operator runs it, on real minisign keys made here: every subcommand,
// its exit codes, what it writes and what it refuses to write.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "minisign.hpp"
#include "sha256.hpp"
#include "update_records.hpp"

extern char** environ;

namespace kv {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

std::string read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

void write(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Sets the file's times to `age` before now.
void set_age(const fs::path& path, std::chrono::seconds age) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const timespec times[2] = {{now.tv_sec - age.count(), now.tv_nsec}, {now.tv_sec - age.count(), now.tv_nsec}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::chrono::nanoseconds modified(const fs::path& path) {
    struct stat metadata {};
    if (stat(path.c_str(), &metadata) != 0) return {};
    return std::chrono::seconds(metadata.st_mtim.tv_sec) + std::chrono::nanoseconds(metadata.st_mtim.tv_nsec);
}

std::vector<std::string> names_below(const fs::path& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) return names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) names.push_back(entry.path().lexically_relative(folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

class PublishTool : public ::testing::Test {
protected:
    static inline fs::path keys;

    static void SetUpTestSuite() {
        keys = fs::path(KV_NATIVE_SCRATCH) / "publish-keys";
        fs::remove_all(keys);
        fs::create_directories(keys);
        for (const char* key : {"maker", "other"}) {
            const std::string command = "minisign -G -W -f -p '" + (keys / key).string() + ".pub' -s '" + (keys / key).string() +
                                        ".key' >/dev/null 2>&1";
            ASSERT_EQ(std::system(command.c_str()), 0);
        }
        // A minisign that signs in the legacy form, as an old or misconfigured one might.
        write(keys / "legacy-minisign", "#!/bin/sh\nexec minisign -l \"$@\"\n");
        fs::permissions(keys / "legacy-minisign", fs::perms::owner_all);
    }

    void SetUp() override {
        folder = fs::path(KV_NATIVE_SCRATCH) / ("publish-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        write(folder / "dist" / "Kestrivon-Client.exe", "client v2\n");
        write(folder / "dist" / "lib" / "data.txt", "data v2\n");
        write(folder / "dist" / "sub dir" / "\xc3\xa9t\xc3\xa9.txt", "unicode\n");
        write(folder / "setup.exe", "MZ installer v3\n");
        fs::create_directories(folder / "updates");
    }

    ToolRun publish(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), KV_PUBLISH_PROGRAM);
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        const fs::path out = folder / "stdout.txt", err = folder / "stderr.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        ToolRun run;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            waitpid(pid, &status, 0);
            run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        run.out = read(out);
        run.err = read(err);
        return run;
    }

    std::vector<std::string> files_arguments(const std::string& out, const char* secret = "maker", const char* version = "2.0.0") const {
        return {"files", "--version", version, "--from", (folder / "dist").string(), "--secret-key", (keys / secret).string() + ".key",
                "--public-key", (keys / "maker.pub").string(), "--out", (folder / out).string()};
    }

    std::vector<std::string> installer_arguments(const std::string& out) const {
        return {"installer", "--version", "3.0", "--installer", (folder / "setup.exe").string(), "--arg", "/quiet", "--arg",
                "/dir=C:\\Program Files\\K", "--secret-key", (keys / "maker.key").string(), "--public-key",
                (keys / "maker.pub").string(), "--out", (folder / out).string()};
    }

    void make_bundle(const std::vector<std::string>& arguments) const {
        const ToolRun made = publish(arguments);
        ASSERT_EQ(made.exit_code, 0) << made.err;
    }

    ToolRun stage(const std::string& bundle, std::vector<std::string> extra = {}) const {
        std::vector<std::string> arguments = {"stage", "--bundle", (folder / bundle).string(), "--updates", updates().string(),
                                              "--public-key", (keys / "maker.pub").string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return publish(arguments);
    }

    ToolRun verify(std::vector<std::string> extra = {}) const {
        std::vector<std::string> arguments = {"verify", "--updates", updates().string(), "--public-key", (keys / "maker.pub").string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return publish(arguments);
    }

    fs::path updates() const { return folder / "updates"; }
    std::string key_line() const { return read(keys / "maker.pub").substr(read(keys / "maker.pub").find('\n') + 1, 56); }

    fs::path folder;
};

TEST_F(PublishTool, FilesMakesABundleThatMinisignAndTheServiceAccept) {
    const ToolRun made = publish(files_arguments("bundle"));
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const fs::path bundle = folder / "bundle";
    EXPECT_EQ(names_below(bundle), (std::vector<std::string>{"manifest.json", "manifest.json.sig", "staging", "staging/Kestrivon-Client.exe",
                                                             "staging/lib", "staging/lib/data.txt", "staging/sub dir",
                                                             "staging/sub dir/\xc3\xa9t\xc3\xa9.txt"}));
    const std::string manifest_bytes = read(bundle / "manifest.json");
    const auto manifest = parse_app_manifest(manifest_bytes);
    ASSERT_TRUE(manifest) << manifest.error();
    EXPECT_EQ(manifest->version, "2.0.0");
    ASSERT_EQ(manifest->files.size(), 3u);
    for (const ManifestFile& file : manifest->files) {
        EXPECT_EQ(file.sha256, sha256_hex(read(folder / "dist" / file.relative_path))) << file.relative_path;
        EXPECT_EQ(read(bundle / "staging" / file.relative_path), read(folder / "dist" / file.relative_path));
    }
    EXPECT_EQ(manifest->files[0].relative_path, "Kestrivon-Client.exe");
    EXPECT_EQ(manifest->files[1].relative_path, "lib/data.txt");
    const std::string signature = read(bundle / "manifest.json.sig");
    EXPECT_TRUE(verify_signature_with_key(manifest_bytes, signature, key_line()));
    EXPECT_NE(signature.find("trusted comment: kestrivon update 2.0.0\n"), std::string::npos) << signature;
    const std::string minisign = "minisign -V -q -p '" + (keys / "maker.pub").string() + "' -m '" + (bundle / "manifest.json").string() +
                                 "' -x '" + (bundle / "manifest.json.sig").string() + "'";
    EXPECT_EQ(std::system(minisign.c_str()), 0);
    EXPECT_FALSE(fs::exists(folder / "bundle.kv-partial"));

    // The same files give the same manifest, whenever and wherever they are published.
    ASSERT_EQ(publish(files_arguments("again")).exit_code, 0);
    EXPECT_EQ(read(folder / "again" / "manifest.json"), manifest_bytes);
}

TEST_F(PublishTool, FilesKeepsNoBundleAStationWouldReject) {
    const struct {
        const char* name;
        const char* secret;
        std::string minisign;
        std::string error;
    } cases[] = {
        {"another key", "other", "",
         "refused: the signature does not verify with " + (keys / "maker.pub").string() +
             ", so a station built with that key would reject this update: update-verify: signature invalid: The signature "
             "was created with a different key than the one provided"},
        {"legacy signature", "maker", (keys / "legacy-minisign").string(), "update-verify: signature invalid: Unexpected signature algorithm"},
        {"minisign fails", "maker", "/bin/false", "signing failed: /bin/false failed with exit code 1"},
        {"no minisign", "maker", (folder / "absent" / "minisign").string(), "signing failed: cannot start "},
    };
    for (const auto& c : cases) {
        auto arguments = files_arguments("bundle", c.secret);
        if (!c.minisign.empty()) arguments.insert(arguments.end(), {"--minisign", c.minisign});
        const ToolRun refused = publish(arguments);
        EXPECT_EQ(refused.exit_code, 1) << c.name;
        EXPECT_NE(refused.err.find(c.error), std::string::npos) << c.name << ": " << refused.err;
        EXPECT_FALSE(fs::exists(folder / "bundle")) << c.name;
        EXPECT_FALSE(fs::exists(folder / "bundle.kv-partial")) << c.name;
    }
}

TEST_F(PublishTool, BadInputGetsAClearErrorAndWritesNothing) {
    const auto with = [](std::vector<std::string> arguments, const std::string& option, const std::string& value) {
        *(std::find(arguments.begin(), arguments.end(), option) + 1) = value;
        return arguments;
    };
    const std::string absent = (folder / "absent").string();
    write(folder / "unsafe" / "a:b.txt", "x");
    write(folder / "backslash" / "lib\\x.dll", "x");
    write(folder / "case" / "A.txt", "x");
    write(folder / "case" / "a.txt", "y");
    fs::create_directories(folder / "empty");
    write(folder / "linked" / "a.txt", "a");
    fs::create_symlink(folder / "setup.exe", folder / "linked" / "b.exe");
    write(folder / "setup.msi", "msi");
    const auto files = files_arguments("bundle");
    const auto installer = installer_arguments("bundle");
    const struct {
        std::vector<std::string> arguments;
        std::string error;
    } cases[] = {
        {with(files, "--from", absent), "source folder not found: " + absent},
        {with(files, "--secret-key", absent), "cannot read secret key " + absent + ": No such file or directory (os error 2)"},
        {with(files, "--public-key", absent), "cannot read public key " + absent + ": No such file or directory (os error 2)"},
        {with(files, "--public-key", (keys / "maker.key").string()), "not a minisign public key"},
        {with(files, "--from", (folder / "unsafe").string()), "unsafe relative path: a:b.txt"},
        {with(files, "--from", (folder / "backslash").string()), "a station reads as a folder separator: lib\\x.dll"},
        {with(files, "--from", (folder / "case").string()), "two files differ only in letter case"},
        {with(files, "--from", (folder / "empty").string()), "the service refuses an update without files"},
        {with(files, "--from", (folder / "linked").string()), "links are not published, copy the file itself: b.exe"},
        {with(files, "--out", (folder / "dist" / "bundle").string()), "the bundle folder must not lie inside --from"},
        {with(files, "--version", "2\n3"), "version label holds a control character"},
        {with(installer, "--installer", absent + ".exe"), "cannot read installer " + absent + ".exe"},
        {with(installer, "--installer", (folder / "setup.msi").string()), "installer file name must end in .exe"},
    };
    for (const auto& c : cases) {
        const auto before = names_below(folder);
        const ToolRun refused = publish(c.arguments);
        EXPECT_EQ(refused.exit_code, 1) << c.error;
        EXPECT_NE(refused.err.find(c.error), std::string::npos) << refused.err;
        auto after = names_below(folder);
        std::erase_if(after, [](const std::string& name) { return name.starts_with("std"); });
        auto expected = before;
        std::erase_if(expected, [](const std::string& name) { return name.starts_with("std"); });
        EXPECT_EQ(after, expected) << c.error;
    }
    write(folder / "taken" / "x", "mine");
    const ToolRun taken = publish(with(files, "--out", (folder / "taken").string()));
    EXPECT_EQ(taken.exit_code, 1);
    EXPECT_NE(taken.err.find("bundle folder already exists"), std::string::npos) << taken.err;
    EXPECT_EQ(names_below(folder / "taken"), std::vector<std::string>{"x"});
}

TEST_F(PublishTool, UsageErrorsExitWithTwoAndHelpWithZero) {
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{}, {"publish"}, {"files", "--version", "1"},
                                                  {"stage", "--bundle", "b"}, {"verify", "--public-key", "p"}}) {
        const ToolRun run = publish(wrong);
        EXPECT_EQ(run.exit_code, 2) << (wrong.empty() ? "" : wrong[0]);
        EXPECT_NE(run.err.find("kestrivon-publish --help"), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
    const ToolRun help = publish({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("Exit codes: 0 done, 1 refused or failed"), std::string::npos);
    EXPECT_EQ(publish({"stage", "--help"}).exit_code, 0);
    const ToolRun status = publish({"status"});
    EXPECT_EQ(status.exit_code, 1);
    EXPECT_NE(status.err.find("status runs on a station"), std::string::npos) << status.err;
}

TEST_F(PublishTool, InstallerBundleCarriesTheInstallerItsSignatureAndArguments) {
    make_bundle(installer_arguments("bundle"));
    const fs::path bundle = folder / "bundle";
    EXPECT_EQ(names_below(bundle), (std::vector<std::string>{"installer", "installer.json", "installer.sig", "installer/setup.exe"}));
    EXPECT_EQ(read(bundle / "installer" / "setup.exe"), read(folder / "setup.exe"));
    EXPECT_TRUE(verify_signature_with_key(read(folder / "setup.exe"), read(bundle / "installer.sig"), key_line()));
    const std::string description = read(bundle / "installer.json");
    EXPECT_NE(description.find("\"sha256\": \"" + sha256_hex(read(folder / "setup.exe")) + "\""), std::string::npos) << description;
    EXPECT_NE(description.find("\"/dir=C:\\\\Program Files\\\\K\""), std::string::npos) << description;
}

TEST_F(PublishTool, StageWritesInTheServicesOrderWithAFreshMarker) {
    make_bundle(files_arguments("bundle"));
    // A bundle prepared long ago on another PC: the marker must still be new on the station.
    for (const auto& entry : fs::recursive_directory_iterator(folder / "bundle")) set_age(entry.path(), std::chrono::hours(2));
    const ToolRun staged = stage("bundle");
    ASSERT_EQ(staged.exit_code, 0) << staged.err;
    EXPECT_EQ(names_below(updates()), (std::vector<std::string>{"manifest.json", "manifest.json.sig", "pending-update.json", "staging",
                                                                "staging/Kestrivon-Client.exe", "staging/lib", "staging/lib/data.txt",
                                                                "staging/sub dir", "staging/sub dir/\xc3\xa9t\xc3\xa9.txt"}));
    for (const char* file : {"manifest.json", "manifest.json.sig", "staging/lib/data.txt", "staging/Kestrivon-Client.exe"}) {
        EXPECT_EQ(read(updates() / file), read(folder / "bundle" / file)) << file;
    }
    EXPECT_TRUE(check_pending_update_content(read(updates() / "pending-update.json")));
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    EXPECT_LT(now - modified(updates() / "pending-update.json"), std::chrono::seconds(60));
    // Payload, then manifest, then signature, then the marker.
    EXPECT_LE(modified(updates() / "staging/lib/data.txt"), modified(updates() / "manifest.json"));
    EXPECT_LE(modified(updates() / "manifest.json"), modified(updates() / "manifest.json.sig"));
    EXPECT_LE(modified(updates() / "manifest.json.sig"), modified(updates() / "pending-update.json"));

    const ToolRun checked = verify();
    EXPECT_EQ(checked.exit_code, 0) << checked.out << checked.err;
    EXPECT_NE(checked.out.find("the service would end Kestrivon-Client.exe and apply version 2.0.0: write 3 file(s)"),
              std::string::npos)
        << checked.out;
}

TEST_F(PublishTool, StageRefusesWhileAnUpdateIsPendingUnlessTold) {
    make_bundle(files_arguments("first"));
    make_bundle(files_arguments("second", "maker", "2.0.1"));
    ASSERT_EQ(stage("first").exit_code, 0);
    const std::string first_manifest = read(updates() / "manifest.json");

    const ToolRun refused = stage("second");
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find("an update is already pending in " + updates().string() +
                               " (pending-update.json, manifest.json.sig, manifest.json, staging); stage with --replace"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(read(updates() / "manifest.json"), first_manifest);

    ASSERT_EQ(stage("second", {"--replace"}).exit_code, 0);
    EXPECT_NE(read(updates() / "manifest.json").find("2.0.1"), std::string::npos);

    // A link planted in the updates folder never leads the tool to delete what it points to.
    fs::remove_all(updates() / "staging");
    write(folder / "elsewhere" / "precious.txt", "keep me");
    fs::create_directory_symlink(folder / "elsewhere", updates() / "staging");
    const ToolRun linked = stage("first", {"--replace"});
    EXPECT_EQ(linked.exit_code, 1);
    EXPECT_NE(linked.err.find((updates() / "staging").string() + " is a link; remove it by hand"), std::string::npos) << linked.err;
    EXPECT_EQ(read(folder / "elsewhere" / "precious.txt"), "keep me");
    EXPECT_TRUE(fs::exists(updates() / "pending-update.json")) << "refused before removing anything";
    fs::remove(updates() / "staging");

    // An installer the service is finishing is never replaced.
    write(updates() / "pending-relaunch.json", R"({"version":"3","installer_pid":0,"created_at":1})");
    const ToolRun relaunching = stage("first", {"--replace"});
    EXPECT_EQ(relaunching.exit_code, 1);
    EXPECT_NE(relaunching.err.find("the service is still finishing an installer update"), std::string::npos) << relaunching.err;
    EXPECT_NE(read(updates() / "manifest.json").find("2.0.1"), std::string::npos);
}

TEST_F(PublishTool, StageChecksTheBundleAsTheServiceWouldBeforeWriting) {
    make_bundle(files_arguments("bundle"));
    const fs::path bundle = folder / "bundle";
    const auto fresh_copy = [&](const std::string& name) {
        fs::copy(bundle, folder / name, fs::copy_options::recursive);
        return folder / name;
    };
    write(fresh_copy("tampered-file") / "staging" / "lib" / "data.txt", "data v3\n");
    const fs::path tampered_manifest = fresh_copy("tampered-manifest");
    std::string manifest = read(tampered_manifest / "manifest.json");
    manifest.replace(manifest.find("2.0.0"), 5, "2.0.9");
    write(tampered_manifest / "manifest.json", manifest);
    const fs::path unsafe = folder / "unsafe";
    write(unsafe / "manifest.json", R"({"version":"u","files":[{"relative_path":"../escape.txt","sha256":"00"}]})");
    const std::string sign = "minisign -S -s '" + (keys / "maker.key").string() + "' -m '" + (unsafe / "manifest.json").string() +
                             "' -x '" + (unsafe / "manifest.json.sig").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(sign.c_str()), 0);

    const struct {
        std::string bundle;
        bool built_in_key;
        std::string error;
    } cases[] = {
        {"tampered-file", false, "refused: checksum mismatch: lib/data.txt"},
        {"tampered-manifest", false,
         "the service would record: SIGNATURE REJECTED: update-verify: signature invalid: The signature verification failed"},
        {"unsafe", false, "refused: unsafe relative path: ../escape.txt"},
        {"bundle", true, "refused: the bundle's signature does not verify with the key this tool was built with"},
        {"dist", false, "not a bundle folder"},
    };
    for (const auto& c : cases) {
        const ToolRun refused = c.built_in_key ? publish({"stage", "--bundle", (folder / c.bundle).string(), "--updates", updates().string()})
                                           : stage(c.bundle);
        EXPECT_EQ(refused.exit_code, 1) << c.bundle;
        EXPECT_NE(refused.err.find(c.error), std::string::npos) << refused.err;
        EXPECT_TRUE(names_below(updates()).empty()) << c.bundle;
    }
}

TEST_F(PublishTool, StagedInstallerMarkerIsOneTheServiceReadsAndVerifies) {
    make_bundle(installer_arguments("bundle"));
    const ToolRun staged = stage("bundle");
    ASSERT_EQ(staged.exit_code, 0) << staged.err;
    const auto marker = parse_pending_installer(read(updates() / "pending-installer.json"));
    ASSERT_TRUE(marker) << marker.error();
    EXPECT_EQ(marker->version, "3.0");
    EXPECT_EQ(marker->installer_path, fs::canonical(updates() / "installer" / "setup.exe").string());
    EXPECT_EQ(read(marker->installer_path), read(folder / "setup.exe"));
    EXPECT_EQ(marker->sha256, sha256_hex(read(folder / "setup.exe")));
    EXPECT_EQ(marker->signature, read(folder / "bundle" / "installer.sig"));
    EXPECT_EQ(marker->args, (std::vector<std::string>{"/quiet", "/dir=C:\\Program Files\\K"}));
    EXPECT_TRUE(verify_signature_with_key(read(marker->installer_path), marker->signature, key_line()));

    const ToolRun checked = verify();
    EXPECT_EQ(checked.exit_code, 0) << checked.out << checked.err;
    EXPECT_NE(checked.out.find("the service would run installer version 3.0"), std::string::npos) << checked.out;

    write(updates() / "installer" / "setup.exe", "MZ something else\n");
    const ToolRun changed = verify();
    EXPECT_EQ(changed.exit_code, 1);
    EXPECT_NE(changed.err.find("record in last-error.txt: pending installer checksum mismatch expected=" + marker->sha256 + " got=" +
                               sha256_hex("MZ something else\n")),
              std::string::npos)
        << changed.err;
}

TEST_F(PublishTool, VerifyTellsWhatTheServiceWouldDoAndChangesNothing) {
    make_bundle(files_arguments("bundle"));
    write(folder / "install" / "Kestrivon-Client.exe", "client v1\n");
    write(folder / "install" / "sub dir" / "\xc3\xa9t\xc3\xa9.txt", "unicode\n");
    const std::string install = (folder / "install").string();
    const std::string record = "the service would remove the update and record in last-error.txt: ";
    const struct {
        const char* name;
        std::function<void(const fs::path&)> change;
        std::vector<std::string> extra;
        std::string expected;  // on stdout when it would apply, else on stderr
        bool applies;
    } cases[] = {
        {"as staged", [](const fs::path&) {}, {"--install", install},
         "the service would end Kestrivon-Client.exe and apply version 2.0.0: write 3 file(s), 2 of them changed", true},
        {"manifest changed", [](const fs::path& u) { write(u / "manifest.json", read(u / "manifest.json") + " "); }, {},
         record + "SIGNATURE REJECTED: update-verify: signature invalid: The signature verification failed", false},
        {"staged file changed", [](const fs::path& u) { write(u / "staging/lib/data.txt", "data v3\n"); }, {},
         record + "update failed: checksum mismatch: lib/data.txt", false},
        {"marker expired", [](const fs::path& u) { set_age(u / "pending-update.json", std::chrono::seconds(1000)); }, {},
         "nothing to apply: no valid marker is pending", false},
        {"marker not an object", [](const fs::path& u) { write(u / "pending-update.json", "[]"); }, {},
         "nothing to apply: no valid marker is pending", false},
        {"signature missing, marker new", [](const fs::path& u) { fs::remove(u / "manifest.json.sig"); }, {},
         "the service would wait up to 30 s for manifest.json.sig, then remove the update and record in last-error.txt: "
         "pending update has no signature; rejecting stale update",
         false},
        {"signature missing, marker 40 s old",
         [](const fs::path& u) {
             fs::remove(u / "manifest.json.sig");
             set_age(u / "pending-update.json", std::chrono::seconds(40));
         },
         {}, record + "pending update has no signature; rejecting stale update", false},
        {"not staged, installed copy old", [](const fs::path& u) { fs::remove(u / "staging/Kestrivon-Client.exe"); },
         {"--install", install}, record + "update failed: non-staged file out of date: Kestrivon-Client.exe", false},
        {"not staged, installed copy current", [](const fs::path& u) { fs::remove(u / "staging/sub dir/\xc3\xa9t\xc3\xa9.txt"); },
         {"--install", install}, "write 2 file(s), 2 of them changed", true},
        {"not staged, no install given", [](const fs::path& u) { fs::remove(u / "staging/lib/data.txt"); }, {},
         "cannot tell without --install: 1 listed file(s) are not staged", false},
        {"install folder without the client", [](const fs::path&) {}, {"--install", (folder / "dist" / "lib").string()},
         record + "update failed: trusted install dir does not contain Kestrivon-Client.exe: " + (folder / "dist" / "lib").string(), false},
    };
    for (const auto& c : cases) {
        fs::remove_all(updates());
        fs::create_directories(updates());
        ASSERT_EQ(stage("bundle").exit_code, 0) << c.name;
        c.change(updates());
        const auto before = names_below(updates());
        const ToolRun checked = verify(c.extra);
        EXPECT_EQ(checked.exit_code, c.applies ? 0 : 1) << c.name << "\n" << checked.out << checked.err;
        EXPECT_NE((c.applies ? checked.out : checked.err).find(c.expected), std::string::npos)
            << c.name << "\n" << checked.out << checked.err;
        EXPECT_EQ(names_below(updates()), before) << c.name;
    }
    // The marker lines are the service's own.
    fs::remove_all(updates());
    fs::create_directories(updates());
    ASSERT_EQ(stage("bundle").exit_code, 0);
    set_age(updates() / "pending-update.json", std::chrono::seconds(1000));
    EXPECT_NE(verify().out.find("pending-update.json: the service would delete it and log: ignoring expired pending-update.json "
                                "marker (age 1000s, cap 900s); removing it"),
              std::string::npos);
    write(updates() / "pending-update.json", "[]");
    EXPECT_NE(verify().out.find("ignoring invalid pending-update.json marker (not a JSON object); removing it"), std::string::npos);
}

}  // namespace
}  // namespace kv
