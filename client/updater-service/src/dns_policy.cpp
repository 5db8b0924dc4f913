#include "dns_policy.hpp"

namespace kv {
namespace {

std::string entry_error(const BrowserPolicy& policy, const std::string& what) { return std::string(policy.browser) + ": " + what; }

Result<std::uint32_t> switch_on(PolicyRegistry& registry, const BrowserPolicy& policy) {
    auto key = registry.create(policy.key);
    if (!key) return fail(entry_error(policy, "create_subkey failed: " + key.error()));
    std::uint32_t changed = 0;
    for (const auto& wanted : policy.strings) {
        const StoredValue stored = (*key)->read(wanted.name);
        if (stored.kind == StoredValue::Kind::text && stored.text == wanted.value) continue;
        if (Status written = (*key)->write_text(wanted.name, wanted.value); !written) {
            return fail(entry_error(policy, std::string("set_value ") + wanted.name + " failed: " + written.error()));
        }
        ++changed;
    }
    for (const auto& wanted : policy.numbers) {
        const StoredValue stored = (*key)->read(wanted.name);
        if (stored.kind == StoredValue::Kind::dword && stored.number == wanted.value) continue;
        if (Status written = (*key)->write_dword(wanted.name, wanted.value); !written) {
            return fail(entry_error(policy, std::string("set_value ") + wanted.name + " failed: " + written.error()));
        }
        ++changed;
    }
    return changed;
}

Result<std::uint32_t> switch_off(PolicyRegistry& registry, const BrowserPolicy& policy) {
    auto key = registry.open(policy.key);
    if (!key) return fail(entry_error(policy, "open_subkey failed: " + key.error()));
    if (!*key) return std::uint32_t{0};
    std::uint32_t changed = 0;
    const auto remove_if = [&](const char* name, bool number) -> Status {
        const StoredValue::Kind kind = (*key)->read(name).kind;
        const bool ours = number ? kind == StoredValue::Kind::dword || kind == StoredValue::Kind::odd_dword
                                 : kind == StoredValue::Kind::text;
        if (!ours) return ok();
        if (Status removed = (*key)->remove(name); !removed) {
            return fail(entry_error(policy, std::string("delete_value ") + name + " failed: " + removed.error()));
        }
        ++changed;
        return ok();
    };
    // Only values of the type this policy writes are ours to remove, a REG_DWORD whatever its length.
    for (const auto& value : policy.strings) {
        if (Status removed = remove_if(value.name, false); !removed) return fail(removed.error());
    }
    for (const auto& value : policy.numbers) {
        if (Status removed = remove_if(value.name, true); !removed) return fail(removed.error());
    }
    return changed;
}

}  // namespace

const std::vector<BrowserPolicy>& browser_dns_policies() {
    static const std::vector<BrowserPolicy> policies = {
        {"Chrome", "SOFTWARE\\Policies\\Google\\Chrome", {{"DnsOverHttpsMode", "off"}}, {{"BuiltInDnsClientEnabled", 0}}},
        {"Edge", "SOFTWARE\\Policies\\Microsoft\\Edge", {{"DnsOverHttpsMode", "off"}}, {{"BuiltInDnsClientEnabled", 0}}},
        {"Brave", "SOFTWARE\\Policies\\BraveSoftware\\Brave", {{"DnsOverHttpsMode", "off"}}, {{"BuiltInDnsClientEnabled", 0}}},
        {"Firefox", "SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS", {}, {{"Enabled", 0}, {"Locked", 1}}},
    };
    return policies;
}

Result<DnsPolicyOutcome> apply_dns_policy(PolicyRegistry& registry, const std::vector<BrowserPolicy>& policies, bool on) {
    DnsPolicyOutcome outcome;
    std::optional<std::string> first_error;
    bool any_completed = false;
    for (const auto& policy : policies) {
        const auto entry = on ? switch_on(registry, policy) : switch_off(registry, policy);
        if (entry) {
            any_completed = true;
            outcome.changed += *entry;
        } else if (!first_error) {
            first_error = entry.error();
        }
    }
    if (!any_completed) return fail(first_error.value_or("no policies configured"));
    outcome.partial_failure = first_error;
    return outcome;
}

}  // namespace kv
