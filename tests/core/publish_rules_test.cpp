// The publishing tool's pure rules: its command line, key files, and what may go into a bundle.
#include <gtest/gtest.h>

#include "bundle_layout.hpp"
#include "public_key_file.hpp"
#include "publish_arguments.hpp"

namespace kv::publish {
namespace {

constexpr char key_line[] = "RWQDW1zL7IFZMLxyiFUa6Wuo1VMJAgA9STSGYDn41VsjgsbeMClZ+ab6";

TEST(PublishArguments, ReadsEachSubcommandsOptions) {
    const auto files = parse_publish_arguments({"files", "--version", "2.0", "--from=dist", "--secret-key", "k.key",
                                                "--public-key", "k.pub", "--out", "b"});
    ASSERT_TRUE(files) << files.error();
    EXPECT_EQ(files->verb, Verb::files);
    EXPECT_EQ(files->from, "dist");
    EXPECT_EQ(files->out, "b");

    // Installer arguments are taken as given, even when they look like options.
    const auto installer = parse_publish_arguments({"installer", "--version", "3", "--installer", "setup.exe", "--arg", "/S",
                                                    "--arg", "--out", "--arg=", "--secret-key", "k", "--public-key", "p",
                                                    "--out", "b"});
    ASSERT_TRUE(installer) << installer.error();
    EXPECT_EQ(installer->args, (std::vector<std::string>{"/S", "--out", ""}));
    EXPECT_EQ(installer->out, "b");

    const auto stage = parse_publish_arguments({"stage", "--bundle", "b", "--replace"});
    ASSERT_TRUE(stage) << stage.error();
    EXPECT_TRUE(stage->replace);
    EXPECT_TRUE(stage->updates.empty());

    for (const std::vector<std::string>& help : {std::vector<std::string>{"--help"}, {"-h"}, {"help"}, {"verify", "--help"}}) {
        const auto asked = parse_publish_arguments(help);
        ASSERT_TRUE(asked) << asked.error();
        EXPECT_TRUE(asked->help);
    }
}

TEST(PublishArguments, UsageErrorsSayWhatIsWrong) {
    const struct {
        std::vector<std::string> arguments;
        const char* error;
    } cases[] = {
        {{}, "no command given"},
        {{"publish"}, "unknown command `publish`"},
        {{"stage", "--bundle"}, "`--bundle` needs a value"},
        {{"stage", "--bundle", "a", "--bundle", "b"}, "`--bundle` given twice"},
        {{"stage", "--bundle", "a", "--replace=yes"}, "`--replace` takes no value"},
        {{"stage"}, "missing `--bundle`"},
        {{"stage", "--bundle", "a", "--install", "x"}, "unknown option `--install` for `stage`"},
        {{"verify", "--public-key", "p", "extra"}, "unexpected argument `extra`"},
        {{"verify", "--public-key="}, "`--public-key` needs a value"},
        {{"--help", "files"}, "unexpected argument `files`"},
    };
    for (const auto& c : cases) {
        const auto parsed = parse_publish_arguments(c.arguments);
        ASSERT_FALSE(parsed) << c.error;
        EXPECT_EQ(parsed.error(), c.error);
    }
}

TEST(PublicKeyLine, TakesTheKeyLineOfAMinisignPubFile) {
    const std::string key = key_line;
    EXPECT_EQ(public_key_line("untrusted comment: minisign public key 305981ECCB5C5B03\n" + key + "\n").value_or(""), key);
    EXPECT_EQ(public_key_line("untrusted comment: x\r\n" + key + "\r\n").value_or(""), key);
    EXPECT_EQ(public_key_line(key).value_or(""), key);
    for (const std::string& bad : {std::string(), std::string("untrusted comment: x\n"), key + "\n" + key, key.substr(1),
                                   std::string("untrusted comment: minisign secret key\nRWRTY0Iy")}) {
        const auto line = public_key_line(bad);
        ASSERT_FALSE(line) << bad;
        EXPECT_EQ(line.error(), "not a minisign public key (the second line of minisign -G's .pub file)");
    }
}

TEST(PublishablePath, OnlyWhatTheServiceAcceptsAndWindowsCanHold) {
    for (const char* good : {"Kestrivon-Client.exe", "lib/x.dll", "a b/c.d.txt", "\xc3\xa9t\xc3\xa9.txt"}) {
        EXPECT_TRUE(check_publishable_path(good)) << good;
    }
    const struct {
        const char* path;
        const char* error;
    } cases[] = {
        {"a:b", "unsafe relative path: a:b"},
        {"../up.txt", "unsafe relative path: ../up.txt"},
        {"lib\\x.dll", "file name holds a backslash, which a station reads as a folder separator: lib\\x.dll"},
        {"lib/aux.txt", "file name holds a device name, which Windows cannot hold: lib/aux.txt"},
        {"COM1", "file name holds a device name, which Windows cannot hold: COM1"},
        {"notes.", "file name holds a name ending in a dot or a space, which Windows cannot hold: notes."},
        {"what?.txt", "file name holds the character ?, which Windows cannot hold: what?.txt"},
        {"tab\there", "file name holds a control character, which Windows cannot hold: tab\there"},
        {"bad\xff.txt", "file name is not valid UTF-8: bad\xef\xbf\xbd.txt"},
    };
    for (const auto& c : cases) {
        const Status checked = check_publishable_path(c.path);
        ASSERT_FALSE(checked) << c.path;
        EXPECT_EQ(checked.error(), c.error);
    }
    EXPECT_TRUE(check_publishable_path("com10.txt"));
    EXPECT_TRUE(check_publishable_path("console.txt"));
}

TEST(BuildManifest, StableOrderAndNoTwoNamesAStationConfuses) {
    const auto manifest = build_manifest("2", {{"lib/b.dll", "2"}, {"Kestrivon-Client.exe", "1"}, {"lib/a.dll", "3"}});
    ASSERT_TRUE(manifest) << manifest.error();
    ASSERT_EQ(manifest->files.size(), 3u);
    EXPECT_EQ(manifest->files[0].relative_path, "Kestrivon-Client.exe");
    EXPECT_EQ(manifest->files[1].relative_path, "lib/a.dll");
    EXPECT_EQ(manifest->files[2].relative_path, "lib/b.dll");
    EXPECT_EQ(manifest->files[2].sha256, "2");

    const auto clash = build_manifest("2", {{"Lib/a.dll", "1"}, {"lib/A.dll", "2"}});
    ASSERT_FALSE(clash);
    EXPECT_EQ(clash.error(), "two files differ only in letter case, which a station cannot keep apart: Lib/a.dll and lib/A.dll");
    EXPECT_FALSE(build_manifest("2", {{"ok.txt", "1"}, {"x:y", "2"}}));
}

TEST(InstallerBundle, ReadsBackWhatItWritesAndNamesOnlyPrograms) {
    const InstallerBundle bundle{"3.0", "setup.exe", std::string(64, 'f'), {"/S", "a \"b\""}};
    const auto back = parse_installer_bundle(serialize_installer_bundle(bundle));
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(back->version, bundle.version);
    EXPECT_EQ(back->installer, bundle.installer);
    EXPECT_EQ(back->sha256, bundle.sha256);
    EXPECT_EQ(back->args, bundle.args);
    const auto missing = parse_installer_bundle(R"({"version":"1","sha256":"x"})");
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().starts_with("missing field `installer`")) << missing.error();

    EXPECT_TRUE(check_installer_file_name("Setup-3.0.EXE"));
    for (const char* bad : {"", "..", "dir/setup.exe", "c:setup.exe", "setup.msi", "nul.exe", "setup?.exe"}) {
        EXPECT_FALSE(check_installer_file_name(bad)) << bad;
    }
    EXPECT_TRUE(check_version_label("2.4.0 beta"));
    EXPECT_EQ(check_version_label("").error(), "version label is empty");
    EXPECT_EQ(check_version_label("2\n3").error(), "version label holds a control character");
}

}  // namespace
}  // namespace kv::publish
