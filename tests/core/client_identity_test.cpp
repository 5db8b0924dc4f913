#include "client_identity.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(ClientIdentity, FileNameExactlyIgnoringAsciiCase) {
    for (const char* name : {"Kestrivon-Client.exe", "KESTRIVON-CLIENT.EXE", "kestrivon-client.exe"}) {
        EXPECT_TRUE(has_client_file_name(name)) << name;
    }
    for (const char* name : {"Kestrivon-Client.exe ", "Kestrivon-Client2.exe", "Kestrivon-Client", "\xC4\xB0" "estrivon-Client.exe",
                             "Kestrivon_Client.exe", ""}) {
        EXPECT_FALSE(has_client_file_name(name)) << name;
    }
}

TEST(ClientIdentity, PathNormalisation) {
    EXPECT_EQ(normalise_client_path("\\\\?\\C:\\Program Files/K\\Kestrivon-Client.exe"), "C:\\Program Files\\K\\Kestrivon-Client.exe");
    EXPECT_EQ(normalise_client_path("//?/C:/x"), "\\\\?\\C:\\x");  // only the real prefix is dropped
    EXPECT_EQ(normalise_client_path("C:\\A"), "C:\\A");
}

TEST(ClientIdentity, ImagePathAndConsoleSessionMustBothMatch) {
    const std::optional<std::string> expected = "c:\\k\\kestrivon-client.exe";
    const struct {
        const char* name;
        ClientCandidate candidate;
        std::optional<std::string> expected;
        bool is_client;
    } cases[] = {
        {"the client", {"c:\\k\\kestrivon-client.exe", 1u}, expected, true},
        {"another folder", {"c:\\other\\kestrivon-client.exe", 1u}, expected, false},
        {"another session", {"c:\\k\\kestrivon-client.exe", 2u}, expected, false},
        {"image unreadable", {std::nullopt, 1u}, expected, false},
        {"session unreadable", {"c:\\k\\kestrivon-client.exe", std::nullopt}, expected, false},
        {"install folder unknown: any", {std::nullopt, std::nullopt}, std::nullopt, true},
    };
    for (const auto& c : cases) EXPECT_EQ(is_supervised_client(c.candidate, c.expected, 1), c.is_client) << c.name;
}

}  // namespace
}  // namespace kv
