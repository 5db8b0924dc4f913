#pragma once
// "DNSPOLICY on|off": machine-wide browser policies that turn off DNS over HTTPS and the
// browsers' own DNS clients. The registry is behind a small interface so the rules run
// against a fake in tests.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "result.hpp"

namespace kv {

struct StringPolicyValue {
    const char* name;
    const char* value;
};
struct NumberPolicyValue {
    const char* name;
    std::uint32_t value;
};
struct BrowserPolicy {
    const char* browser;
    const char* key;  // below HKEY_LOCAL_MACHINE
    std::vector<StringPolicyValue> strings;
    std::vector<NumberPolicyValue> numbers;
};

const std::vector<BrowserPolicy>& browser_dns_policies();

struct StoredValue {
    // odd_dword: of type REG_DWORD but not 4 bytes long, so without a number.
    enum class Kind { absent, text, dword, odd_dword, other } kind = Kind::absent;
    std::string text;
    std::uint32_t number = 0;
};

// One open registry key. Errors are the system error text.
class PolicyKey {
public:
    virtual ~PolicyKey() = default;
    virtual StoredValue read(const char* name) = 0;
    virtual Status write_text(const char* name, const char* value) = 0;
    virtual Status write_dword(const char* name, std::uint32_t value) = 0;
    virtual Status remove(const char* name) = 0;
};

class PolicyRegistry {
public:
    virtual ~PolicyRegistry() = default;
    // Creates the key when missing.
    virtual Result<std::unique_ptr<PolicyKey>> create(const char* key) = 0;
    // A key that does not exist is an empty pointer, not an error.
    virtual Result<std::unique_ptr<PolicyKey>> open(const char* key) = 0;
};

struct DnsPolicyOutcome {
    std::uint32_t changed = 0;
    std::optional<std::string> partial_failure;  // the first entry's error when others completed
};

Result<DnsPolicyOutcome> apply_dns_policy(PolicyRegistry& registry, const std::vector<BrowserPolicy>& policies, bool on);

// HKEY_LOCAL_MACHINE in the service's native view.
std::unique_ptr<PolicyRegistry> machine_policy_registry();

}  // namespace kv
