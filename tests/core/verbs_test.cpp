#include "verbs.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(ParseVerb, KnownVerbsAndTheDefault) {
    const std::pair<std::vector<std::string>, Verb> cases[] = {
        {{}, Verb::service},
        {{"service"}, Verb::service},
        {{"install"}, Verb::install},
        {{"uninstall"}, Verb::uninstall},
        {{"apply-once"}, Verb::apply_once},
        {{"install", "extra", "ignored"}, Verb::install},
    };
    for (const auto& [arguments, expected] : cases) {
        const auto parsed = parse_verb(arguments);
        ASSERT_TRUE(std::holds_alternative<Verb>(parsed));
        EXPECT_EQ(std::get<Verb>(parsed), expected);
    }
}

TEST(ParseVerb, AnythingElseIsUnknownWithTheArgumentAsGiven) {
    for (const std::string verb : {"Install", "", " install", "apply_once", "--help", "uninstall "}) {
        const auto parsed = parse_verb({verb, "install"});
        ASSERT_TRUE(std::holds_alternative<UnknownVerb>(parsed)) << verb;
        EXPECT_EQ(std::get<UnknownVerb>(parsed).message,
                  "unknown command '" + verb + "'. expected install, uninstall, apply-once or service");
    }
}

}  // namespace
}  // namespace kv
