// The browser policy values in the machine's registry.
#include <windows.h>

#include "dns_policy.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

Status registry_status(LSTATUS status) {
    if (status == ERROR_SUCCESS) return ok();
    return fail(system_error_text(static_cast<DWORD>(status)));
}

class MachinePolicyKey final : public PolicyKey {
public:
    explicit MachinePolicyKey(UniqueRegistryKey key) : key_(std::move(key)) {}

    StoredValue read(const char* name) override {
        StoredValue stored;
        const std::wstring value_name = widen(name);
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key_.get(), value_name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return stored;
        std::vector<BYTE> data(size + sizeof(wchar_t));
        if (RegQueryValueExW(key_.get(), value_name.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
            return stored;
        }
        if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
            std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0') text.pop_back();
            stored.kind = StoredValue::Kind::text;
            stored.text = narrow(text);
        } else if (type == REG_DWORD && size == sizeof(DWORD)) {
            stored.kind = StoredValue::Kind::dword;
            stored.number = *reinterpret_cast<const DWORD*>(data.data());
        } else if (type == REG_DWORD) {
            stored.kind = StoredValue::Kind::odd_dword;
        } else {
            stored.kind = StoredValue::Kind::other;
        }
        return stored;
    }

    Status write_text(const char* name, const char* value) override {
        const std::wstring text = widen(value);
        return registry_status(RegSetValueExW(key_.get(), widen(name).c_str(), 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(text.c_str()),
                                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
    }

    Status write_dword(const char* name, std::uint32_t value) override {
        const DWORD number = value;
        return registry_status(RegSetValueExW(key_.get(), widen(name).c_str(), 0, REG_DWORD,
                                              reinterpret_cast<const BYTE*>(&number), sizeof(number)));
    }

    Status remove(const char* name) override { return registry_status(RegDeleteValueW(key_.get(), widen(name).c_str())); }

private:
    UniqueRegistryKey key_;
};

class MachinePolicyRegistry final : public PolicyRegistry {
public:
    Result<std::unique_ptr<PolicyKey>> create(const char* key) override {
        UniqueRegistryKey opened;
        const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, widen(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                               opened.put(), nullptr);
        if (status != ERROR_SUCCESS) return fail(system_error_text(static_cast<DWORD>(status)));
        return std::unique_ptr<PolicyKey>(std::make_unique<MachinePolicyKey>(std::move(opened)));
    }

    Result<std::unique_ptr<PolicyKey>> open(const char* key) override {
        UniqueRegistryKey opened;
        const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, widen(key).c_str(), 0, KEY_READ | KEY_SET_VALUE, opened.put());
        if (status == ERROR_FILE_NOT_FOUND) return std::unique_ptr<PolicyKey>();
        if (status != ERROR_SUCCESS) return fail(system_error_text(static_cast<DWORD>(status)));
        return std::unique_ptr<PolicyKey>(std::make_unique<MachinePolicyKey>(std::move(opened)));
    }
};

}  // namespace

std::unique_ptr<PolicyRegistry> machine_policy_registry() { return std::make_unique<MachinePolicyRegistry>(); }

}  // namespace kv
