#include "dns_policy.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace kv {
namespace {

// A registry in memory; keys listed in `broken` fail to open or create.
class FakeRegistry final : public PolicyRegistry {
public:
    std::map<std::string, std::map<std::string, StoredValue>> keys;
    std::set<std::string> broken;
    std::set<std::string> read_only;

    class Key final : public PolicyKey {
    public:
        Key(FakeRegistry& registry, std::string path) : registry_(registry), path_(std::move(path)) {}
        StoredValue read(const char* name) override {
            auto& values = registry_.keys[path_];
            const auto found = values.find(name);
            return found == values.end() ? StoredValue{} : found->second;
        }
        Status write_text(const char* name, const char* value) override {
            if (registry_.read_only.count(path_)) return fail("Access is denied. (os error 5)");
            registry_.keys[path_][name] = {StoredValue::Kind::text, value, 0};
            return ok();
        }
        Status write_dword(const char* name, std::uint32_t value) override {
            if (registry_.read_only.count(path_)) return fail("Access is denied. (os error 5)");
            registry_.keys[path_][name] = {StoredValue::Kind::dword, "", value};
            return ok();
        }
        Status remove(const char* name) override {
            if (registry_.read_only.count(path_)) return fail("Access is denied. (os error 5)");
            registry_.keys[path_].erase(name);
            return ok();
        }

    private:
        FakeRegistry& registry_;
        std::string path_;
    };

    Result<std::unique_ptr<PolicyKey>> create(const char* key) override {
        if (broken.count(key)) return fail("Access is denied. (os error 5)");
        keys[key];
        return std::unique_ptr<PolicyKey>(std::make_unique<Key>(*this, key));
    }
    Result<std::unique_ptr<PolicyKey>> open(const char* key) override {
        if (broken.count(key)) return fail("Access is denied. (os error 5)");
        if (!keys.count(key)) return std::unique_ptr<PolicyKey>();
        return std::unique_ptr<PolicyKey>(std::make_unique<Key>(*this, key));
    }
};

constexpr const char* chrome = "SOFTWARE\\Policies\\Google\\Chrome";

std::uint32_t changed(FakeRegistry& registry, bool on) {
    const auto outcome = apply_dns_policy(registry, browser_dns_policies(), on);
    EXPECT_TRUE(outcome) << outcome.error();
    return outcome ? outcome->changed : 9999;
}

TEST(DnsPolicy, OnWritesEightValuesOnceAndOffRemovesThem) {
    FakeRegistry registry;
    EXPECT_EQ(changed(registry, true), 8u);
    EXPECT_EQ(changed(registry, true), 0u);
    EXPECT_EQ(registry.keys.size(), 4u);
    EXPECT_EQ(registry.keys["SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS"]["Locked"].number, 1u);
    EXPECT_EQ(changed(registry, false), 8u);
    EXPECT_EQ(changed(registry, false), 0u);
    EXPECT_EQ(registry.keys.size(), 4u) << "keys themselves stay";
    FakeRegistry empty;
    EXPECT_EQ(changed(empty, false), 0u);
    EXPECT_TRUE(empty.keys.empty());
}

TEST(DnsPolicy, WrongCaseOrWrongTypeIsRewrittenButOffLeavesForeignTypes) {
    FakeRegistry registry;
    registry.keys[chrome]["DnsOverHttpsMode"] = {StoredValue::Kind::text, "Off", 0};
    registry.keys[chrome]["BuiltInDnsClientEnabled"] = {StoredValue::Kind::text, "0", 0};
    EXPECT_EQ(changed(registry, true), 8u);
    EXPECT_EQ(registry.keys[chrome]["DnsOverHttpsMode"].text, "off");
    EXPECT_EQ(registry.keys[chrome]["BuiltInDnsClientEnabled"].kind, StoredValue::Kind::dword);

    FakeRegistry foreign;
    foreign.keys[chrome]["BuiltInDnsClientEnabled"] = {StoredValue::Kind::text, "0", 0};
    foreign.keys[chrome]["DnsOverHttpsMode"] = {StoredValue::Kind::text, "secure", 0};
    EXPECT_EQ(changed(foreign, false), 1u);
    EXPECT_EQ(foreign.keys[chrome].count("BuiltInDnsClientEnabled"), 1u);

    // A REG_DWORD of another length than four bytes is still a REG_DWORD to remove.
    FakeRegistry odd;
    odd.keys[chrome]["BuiltInDnsClientEnabled"] = {StoredValue::Kind::odd_dword, "", 0};
    EXPECT_EQ(changed(odd, true), 8u);
    EXPECT_EQ(odd.keys[chrome]["BuiltInDnsClientEnabled"].kind, StoredValue::Kind::dword);
    odd.keys[chrome]["BuiltInDnsClientEnabled"] = {StoredValue::Kind::odd_dword, "", 0};
    EXPECT_EQ(changed(odd, false), 8u);
    EXPECT_EQ(odd.keys[chrome].count("BuiltInDnsClientEnabled"), 0u);
}

TEST(DnsPolicy, OneBrokenBrowserDoesNotStopTheOthers) {
    FakeRegistry registry;
    registry.broken.insert(chrome);
    const auto outcome = apply_dns_policy(registry, browser_dns_policies(), true);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->changed, 6u);
    EXPECT_EQ(outcome->partial_failure, "Chrome: create_subkey failed: Access is denied. (os error 5)");

    FakeRegistry half;
    half.keys["SOFTWARE\\Policies\\Microsoft\\Edge"];
    half.read_only.insert("SOFTWARE\\Policies\\Microsoft\\Edge");
    const auto partial = apply_dns_policy(half, browser_dns_policies(), true);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->changed, 6u);
    EXPECT_EQ(partial->partial_failure, "Edge: set_value DnsOverHttpsMode failed: Access is denied. (os error 5)");
}

TEST(DnsPolicy, WhenEveryBrowserFailsTheFirstErrorIsTheAnswer) {
    FakeRegistry registry;
    for (const auto& policy : browser_dns_policies()) registry.broken.insert(policy.key);
    const auto on = apply_dns_policy(registry, browser_dns_policies(), true);
    ASSERT_FALSE(on);
    EXPECT_EQ(on.error(), "Chrome: create_subkey failed: Access is denied. (os error 5)");
    const auto off = apply_dns_policy(registry, browser_dns_policies(), false);
    ASSERT_FALSE(off);
    EXPECT_EQ(off.error(), "Chrome: open_subkey failed: Access is denied. (os error 5)");
    const auto none = apply_dns_policy(registry, {}, true);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error(), "no policies configured");
}

}  // namespace
}  // namespace kv
