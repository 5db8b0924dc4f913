#include "update_records.hpp"

#include <gtest/gtest.h>

#include "base64.hpp"
#include "sha256.hpp"

namespace kv {
namespace {

TEST(ParseAppManifest, ReadsFilesInOrderAndIgnoresUnknownKeys) {
    const auto manifest = parse_app_manifest(R"({"version":"2.1","extra":1,"files":[
        {"relative_path":"Kestrivon-Client.exe","sha256":"AB","note":true},
        {"relative_path":"lib/x.dll","sha256":"cd"}]}
)");
    ASSERT_TRUE(manifest) << manifest.error();
    EXPECT_EQ(manifest->version, "2.1");
    ASSERT_EQ(manifest->files.size(), 2u);
    EXPECT_EQ(manifest->files[0].relative_path, "Kestrivon-Client.exe");
    EXPECT_EQ(manifest->files[0].sha256, "AB");
    EXPECT_EQ(manifest->files[1].relative_path, "lib/x.dll");
    EXPECT_TRUE(parse_app_manifest(R"({"version":"1","files":[]})"));
}

TEST(ParseAppManifest, RefusesWithAMessageThatSaysWhatAndWhere) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"{\"files\":[]}", "missing field `version` at line 1 column 12"},
        {"{\"version\":\"1\"\n}", "missing field `files` at line 2 column 1"},
        {"{\"version\":\"1\",\"files\":[{\"sha256\":\"x\"}]}", "missing field `relative_path` at line 1 column 38"},
        {"{\"version\":\"1\",\"version\":\"2\",\"files\":[]}", "duplicate field `version` at line 1 column 24"},
        {"{\"version\":\"1\",\"files\":[{\"relative_path\":\"a\",\"sha256\":\"x\",\"sha256\":\"y\"}]}",
         "duplicate field `sha256` at line 1 column 66"},
        {"{\"version\":1,\"files\":[]}", "invalid type: integer `1`, expected a string for field `version` at line 1 column 24"},
        {"{\"version\":\"1\",\"files\":{}}", "invalid type: map, expected a sequence for field `files` at line 1 column 26"},
        {"[]", "invalid type: sequence, expected a map at line 1 column 2"},
    };
    for (const auto& c : cases) {
        const auto parsed = parse_app_manifest(c.text);
        ASSERT_FALSE(parsed) << c.text;
        EXPECT_EQ(parsed.error(), c.message) << c.text;
    }
}

TEST(ParseAppManifest, SyntaxErrorsAndTrailingDataAreRefused) {
    for (const char* text : {"", "{", "{\"version\":\"1\",\"files\":[]} x", "{\"version\":\"1\",\"files\":[]}{}",
                             "not json", "{\"version\":\"\xFF\",\"files\":[]}"}) {
        const auto parsed = parse_app_manifest(text);
        ASSERT_FALSE(parsed) << text;
        EXPECT_NE(parsed.error().find("line"), std::string::npos) << parsed.error();
    }
    EXPECT_TRUE(parse_app_manifest("{\"version\":\"1\",\"files\":[]}\r\n\t "));
}

TEST(UpdateRecords, ANulByteAfterTheValueIsTrailingInputForEveryRecord) {
    using namespace std::string_literals;
    const std::string manifest = "{\"version\":\"1\",\"files\":[]}";
    const std::string installer = R"({"version":"3","installer_path":"p","sha256":"AA","signature":"s"})";
    const std::string relaunch = R"({"version":"3","installer_pid":0,"created_at":1765000000})";
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {manifest + "\0garbage"s, "parse error at line 1, column 27: syntax error while parsing value - invalid literal; "
                                  "last read: '<U+0000>'; expected end of input"},
        {manifest + "\n\0"s, "parse error at line 2, column 1: syntax error while parsing value - invalid literal; "
                              "last read: '<U+0000>'; expected end of input"},
    };
    for (const auto& c : cases) {
        const auto parsed = parse_app_manifest(c.text);
        ASSERT_FALSE(parsed);
        EXPECT_EQ(parsed.error(), c.message);
    }
    EXPECT_TRUE(parse_app_manifest(manifest));
    EXPECT_FALSE(parse_app_manifest("{\"version\":\"1\0\",\"files\":[]}"s));
    EXPECT_TRUE(parse_pending_installer(installer));
    EXPECT_FALSE(parse_pending_installer(installer + "\0{}"s));
    EXPECT_TRUE(parse_pending_relaunch(relaunch));
    EXPECT_FALSE(parse_pending_relaunch(relaunch + "\0"s));
    EXPECT_TRUE(check_pending_update_content("{}"));
    EXPECT_FALSE(check_pending_update_content("{}\0x"s));
}

TEST(ParsePendingInstaller, ArgsAreOptionalAndTheOthersRequired) {
    const auto marker = parse_pending_installer(
        R"({"version":"3","installer_path":" installer\\setup.exe ","sha256":"AA","signature":"sig"})");
    ASSERT_TRUE(marker) << marker.error();
    EXPECT_EQ(marker->installer_path, " installer\\setup.exe ");
    EXPECT_TRUE(marker->args.empty());
    const auto with_args = parse_pending_installer(
        R"({"version":"3","installer_path":"p","sha256":"AA","signature":"s","args":["/quiet","x y"]})");
    ASSERT_TRUE(with_args);
    EXPECT_EQ(with_args->args, (std::vector<std::string>{"/quiet", "x y"}));

    const auto unsigned_marker = parse_pending_installer(R"({"version":"3","installer_path":"p","sha256":"AA"})");
    ASSERT_FALSE(unsigned_marker);
    EXPECT_TRUE(unsigned_marker.error().starts_with("missing field `signature`")) << unsigned_marker.error();
    EXPECT_FALSE(parse_pending_installer(R"({"version":"3","installer_path":"p","sha256":"AA","signature":"s","args":[1]})"));
}

TEST(ParsePendingRelaunch, LegacyMarkersAndNumberRanges) {
    const auto legacy = parse_pending_relaunch(R"({"version":"3","installer_pid":0,"created_at":1765000000})");
    ASSERT_TRUE(legacy) << legacy.error();
    EXPECT_TRUE(legacy->is_legacy());
    const struct {
        const char* text;
        bool valid;
    } cases[] = {
        {R"({"version":"3","installer_pid":4294967295,"created_at":18446744073709551615})", true},
        {R"({"version":"3","installer_pid":4294967296,"created_at":1})", false},
        {R"({"version":"3","installer_pid":-1,"created_at":1})", false},
        {R"({"version":"3","installer_pid":1.5,"created_at":1})", false},
        {R"({"version":"3","installer_pid":"1","created_at":1})", false},
        {R"({"version":"3","created_at":1})", false},
        {R"({"version":"3","installer_pid":1,"created_at":1,"installer_image":7})", false},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_pending_relaunch(c.text).has_value(), c.valid) << c.text;
}

TEST(PendingUpdateContent, AnyObjectButNothingElse) {
    EXPECT_TRUE(check_pending_update_content("{}"));
    EXPECT_TRUE(check_pending_update_content(R"({"anything":[1,2]})"));
    const auto array = check_pending_update_content("[]");
    ASSERT_FALSE(array);
    EXPECT_EQ(array.error(), "not a JSON object");
    EXPECT_NE(check_pending_update_content("{\"a\":").error(), "not a JSON object");
}

TEST(SerializePendingRelaunch, PrettyPrintedInTheFixedKeyOrderAndReadBack) {
    PendingRelaunch marker{"4.0 \"beta\"", "C:\\Windows\\Temp\\Kestrivon-installer-1-2-0\\setup.exe", 1765000000,
                           134000000000000000, 4242};
    const std::string text = serialize_pending_relaunch(marker);
    EXPECT_EQ(text,
              "{\n"
              "  \"version\": \"4.0 \\\"beta\\\"\",\n"
              "  \"installer_pid\": 4242,\n"
              "  \"created_at\": 1765000000,\n"
              "  \"installer_start_time\": 134000000000000000,\n"
              "  \"installer_image\": \"C:\\\\Windows\\\\Temp\\\\Kestrivon-installer-1-2-0\\\\setup.exe\"\n"
              "}");
    const auto back = parse_pending_relaunch(text);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(back->installer_image, marker.installer_image);
    EXPECT_EQ(back->installer_start_time, marker.installer_start_time);
    EXPECT_EQ(back->installer_pid, 4242u);
}

TEST(SerializePublisherRecords, ReadBackExactlyAsWritten) {
    // A minisign signature text holds line breaks and a tab in its default trusted comment.
    const std::string signature =
        "untrusted comment: signature from minisign secret key\nRUQ...=\ntrusted comment: timestamp:1\tfile:setup.exe\thashed\nAAA=\n";
    const PendingInstallerUpdate installer{"3.0 \"rc\"", "C:\\ProgramData\\Kestrivon\\Client\\updates\\installer\\setup.exe",
                                           std::string(64, 'a'), signature, {"/quiet", "--dir=C:\\Program Files\\K", ""}};
    const std::string installer_text = serialize_pending_installer(installer);
    EXPECT_NE(installer_text.find("\\thashed\\n"), std::string::npos) << installer_text;
    const auto installer_back = parse_pending_installer(installer_text);
    ASSERT_TRUE(installer_back) << installer_back.error() << "\n" << installer_text;
    EXPECT_EQ(installer_back->version, installer.version);
    EXPECT_EQ(installer_back->installer_path, installer.installer_path);
    EXPECT_EQ(installer_back->signature, signature);
    EXPECT_EQ(installer_back->args, installer.args);
    EXPECT_TRUE(parse_pending_installer(serialize_pending_installer({"1", "p", "d", "s", {}})));

    for (const AppManifest& manifest : {AppManifest{"2.0", {}},
                                        AppManifest{"2.1 \u00e9", {{"Kestrivon-Client.exe", "ab"}, {"lib/\"x\".dll", "cd"}}}}) {
        const std::string text = serialize_app_manifest(manifest);
        const auto back = parse_app_manifest(text);
        ASSERT_TRUE(back) << back.error() << "\n" << text;
        EXPECT_EQ(back->version, manifest.version);
        ASSERT_EQ(back->files.size(), manifest.files.size());
        for (std::size_t i = 0; i < manifest.files.size(); ++i) {
            EXPECT_EQ(back->files[i].relative_path, manifest.files[i].relative_path);
            EXPECT_EQ(back->files[i].sha256, manifest.files[i].sha256);
        }
    }
}

TEST(Sha256Hex, KnownDigests) {
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(DecodeBase64, StrictStandardAlphabet) {
    const struct {
        const char* text;
        const char* decoded;  // nullptr: refused
    } cases[] = {
        {"", ""},       {"TWFu", "Man"}, {"TWE=", "Ma"}, {"TQ==", "M"},  {"TQ=", nullptr},
        {"TR==", nullptr}, {"TW=u", nullptr}, {"T Fu", nullptr}, {"TWFu\n", nullptr}, {"=WFu", nullptr},
        {"-_Fu", nullptr},
    };
    for (const auto& c : cases) {
        const auto decoded = decode_base64(c.text);
        if (c.decoded == nullptr) {
            EXPECT_FALSE(decoded) << c.text;
        } else {
            ASSERT_TRUE(decoded) << c.text;
            EXPECT_EQ(*decoded, c.decoded);
        }
    }
}

}  // namespace
}  // namespace kv
