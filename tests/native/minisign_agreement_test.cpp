// Our verifier against the real minisign tool, on signatures minisign itself made.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "minisign.hpp"

namespace kv {
namespace {

namespace fs = std::filesystem;

class MinisignAgreement : public ::testing::Test {
protected:
    static inline fs::path folder;

    static void run(const std::string& command) {
        ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
    }
    static std::string read(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        return content.str();
    }
    static void write(const fs::path& path, const std::string& content) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    }
    // The key line of a minisign.pub file.
    static std::string key_line(const fs::path& public_key) {
        std::istringstream lines(read(public_key));
        std::string line;
        std::getline(lines, line);
        std::getline(lines, line);
        return line;
    }
    static bool minisign_accepts(const fs::path& message, const fs::path& signature, const fs::path& public_key) {
        const std::string command = "minisign -V -q -p '" + public_key.string() + "' -m '" + message.string() + "' -x '" +
                                    signature.string() + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

    static void SetUpTestSuite() {
        folder = fs::path(KV_NATIVE_SCRATCH) / "minisign";
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (const char* key : {"a", "b"}) {
            run("minisign -G -W -f -p '" + (folder / key).string() + ".pub' -s '" + (folder / key).string() + ".key'");
        }
        write(folder / "manifest.json", "{\"version\":\"2\",\"files\":[]}\n");
        const auto sign = [](const char* key, const char* extra, const char* signature) {
            run("minisign -S " + std::string(extra) + " -s '" + (folder / key).string() + ".key' -m '" +
                (folder / "manifest.json").string() + "' -x '" + (folder / signature).string() + "' -t 'release 2'");
        };
        sign("a", "", "good.sig");
        sign("a", "-l", "legacy.sig");
        sign("b", "", "other-key.sig");
    }
};

TEST_F(MinisignAgreement, AgreesWithMinisignOnEveryVariant) {
    const std::string message = read(folder / "manifest.json");
    const std::string good = read(folder / "good.sig");
    const std::string key = key_line(folder / "a.pub");

    std::string tampered_comment = good;
    tampered_comment.replace(tampered_comment.find("release 2"), 9, "release 3");
    std::string flipped_signature = good;
    const size_t second_line = flipped_signature.find('\n') + 1;
    flipped_signature[second_line + 20] = flipped_signature[second_line + 20] == 'A' ? 'B' : 'A';

    const struct {
        const char* name;
        std::string message;
        std::string signature;
        const char* expected_error;  // nullptr: verifies
    } cases[] = {
        {"as signed", message, good, nullptr},
        {"crlf line ends in the signature", message,
         [&] {
             std::string crlf;
             for (char c : good) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
             return crlf;
         }(),
         nullptr},
        {"newline dropped", message.substr(0, message.size() - 1), good,
         "update-verify: signature invalid: The signature verification failed"},
        {"re-indented", "{ \"version\": \"2\", \"files\": [] }\n", good,
         "update-verify: signature invalid: The signature verification failed"},
        {"one byte changed", "{\"version\":\"3\",\"files\":[]}\n", good,
         "update-verify: signature invalid: The signature verification failed"},
        {"trusted comment changed", message, tampered_comment,
         "update-verify: signature invalid: The signature verification failed"},
        {"signature bits flipped", message, flipped_signature, nullptr /* decided below */},
        {"another key", message, read(folder / "other-key.sig"),
         "update-verify: signature invalid: The signature was created with a different key than the one provided"},
    };
    for (const auto& c : cases) {
        write(folder / "case.json", c.message);
        write(folder / "case.sig", c.signature);
        const bool minisign_ok = minisign_accepts(folder / "case.json", folder / "case.sig", folder / "a.pub");
        const Status ours = verify_signature_with_key(c.message, c.signature, key);
        EXPECT_EQ(ours.has_value(), minisign_ok) << c.name << ": " << (ours ? "ok" : ours.error());
        // The installer's check, given the digest computed while reading, says exactly the same.
        const Status of_digest = verify_signature_of_digest_with_key(blake2b_512(c.message), c.signature, key);
        EXPECT_EQ(of_digest ? std::string("ok") : of_digest.error(), ours ? std::string("ok") : ours.error()) << c.name;
        if (c.expected_error != nullptr) {
            EXPECT_EQ(ours.has_value() ? std::string("ok") : ours.error(), c.expected_error) << c.name;
        }
    }
}

TEST_F(MinisignAgreement, LegacySignaturesAreRefusedEvenWithTheRightKey) {
    const Status legacy = verify_signature_with_key(read(folder / "manifest.json"), read(folder / "legacy.sig"),
                                                    key_line(folder / "a.pub"));
    ASSERT_FALSE(legacy);
    EXPECT_EQ(legacy.error(), "update-verify: signature invalid: Unexpected signature algorithm");
    const Status of_digest = verify_signature_of_digest_with_key(blake2b_512(read(folder / "manifest.json")),
                                                                 read(folder / "legacy.sig"), key_line(folder / "a.pub"));
    ASSERT_FALSE(of_digest);
    EXPECT_EQ(of_digest.error(), legacy.error());
}

TEST_F(MinisignAgreement, MalformedSignatureTextCannotBeDecoded) {
    const std::string good = read(folder / "good.sig");
    const std::string key = key_line(folder / "a.pub");
    for (const std::string& text : {std::string(""), std::string("untrusted comment: x\n"), good.substr(0, good.size() / 2),
                                    [&] {
                                        std::string no_prefix = good;
                                        no_prefix.replace(no_prefix.find("\ntrusted comment: "), 18, "\ncomment: ");
                                        return no_prefix;
                                    }()}) {
        const Status verified = verify_signature_with_key("x", text, key);
        ASSERT_FALSE(verified);
        EXPECT_EQ(verified.error(), "update-verify: cannot decode signature: Invalid encoding in minisign data");
    }
    const Status bad_key = verify_signature_with_key("x", good, "RWQ=");
    ASSERT_FALSE(bad_key);
    EXPECT_EQ(bad_key.error(), "update-verify: bad embedded public key: Invalid encoding in minisign data");
}

}  // namespace
}  // namespace kv
