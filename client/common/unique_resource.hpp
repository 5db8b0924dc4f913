#pragma once
// One move-only owner for "a value plus the function that frees it", with a named alias
// per kind. Releasing never clobbers the last error a caller is about to report.
#include <windows.h>
#include <sddl.h>
#include <userenv.h>
#include <winsvc.h>

#include <cstddef>
#include <memory>
#include <utility>

namespace kv {

template <class Traits>
class UniqueResource {
public:
    using value_type = typename Traits::value_type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(value_type value) noexcept : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    value_type get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    value_type release() noexcept { return std::exchange(value_, Traits::invalid()); }

    void reset(value_type value = Traits::invalid()) noexcept {
        const value_type old = std::exchange(value_, value);
        if (old != Traits::invalid()) {
            const DWORD saved = GetLastError();
            Traits::close(old);
            SetLastError(saved);
        }
    }

    // For out-parameters of Win32 calls: frees what is held and hands out the slot.
    value_type* put() noexcept {
        reset();
        return &value_;
    }

private:
    value_type value_ = Traits::invalid();
};

struct HandleTraits {  // process, thread, token, event, mutex: NULL means none
    using value_type = HANDLE;
    static value_type invalid() noexcept { return nullptr; }
    static void close(value_type h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {  // files and pipes: INVALID_HANDLE_VALUE means none
    using value_type = HANDLE;
    static value_type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(value_type h) noexcept { ::CloseHandle(h); }
};
struct RegistryKeyTraits {
    using value_type = HKEY;
    static value_type invalid() noexcept { return nullptr; }
    static void close(value_type k) noexcept { ::RegCloseKey(k); }
};
struct LocalMemoryTraits {  // security descriptors and SIDs from the SDDL and ACL calls
    using value_type = HLOCAL;
    static value_type invalid() noexcept { return nullptr; }
    static void close(value_type m) noexcept { ::LocalFree(m); }
};
struct EnvironmentBlockTraits {
    using value_type = void*;
    static value_type invalid() noexcept { return nullptr; }
    static void close(value_type block) noexcept { ::DestroyEnvironmentBlock(block); }
};
struct ServiceHandleTraits {
    using value_type = SC_HANDLE;
    static value_type invalid() noexcept { return nullptr; }
    static void close(value_type h) noexcept { ::CloseServiceHandle(h); }
};

struct FindHandleTraits {
    using value_type = HANDLE;
    static value_type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(value_type h) noexcept { ::FindClose(h); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
using UniqueEnvironmentBlock = UniqueResource<EnvironmentBlockTraits>;
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;

// A process/thread attribute list: its storage plus the initialised list inside it.
class UniqueAttributeList {
public:
    UniqueAttributeList() = default;
    UniqueAttributeList(const UniqueAttributeList&) = delete;
    UniqueAttributeList& operator=(const UniqueAttributeList&) = delete;
    ~UniqueAttributeList() {
        if (initialised_) {
            const DWORD saved = GetLastError();
            ::DeleteProcThreadAttributeList(get());
            SetLastError(saved);
        }
    }

    // Returns false with the last error set when the list cannot be initialised.
    bool initialise(DWORD attribute_count) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, attribute_count, 0, &size);
        if (size == 0) return false;
        storage_ = std::make_unique<std::byte[]>(size);
        if (!::InitializeProcThreadAttributeList(get(), attribute_count, 0, &size)) return false;
        initialised_ = true;
        return true;
    }

    LPPROC_THREAD_ATTRIBUTE_LIST get() const noexcept {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
    }

private:
    std::unique_ptr<std::byte[]> storage_;
    bool initialised_ = false;
};

// For the odd cleanup that has no owner type of its own.
template <class F>
class ScopeGuard {
public:
    explicit ScopeGuard(F f) : f_(std::move(f)) {}
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;
    ~ScopeGuard() {
        if (armed_) f_();
    }
    void dismiss() noexcept { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

}  // namespace kv
