#pragma once
// Errors as values: an operation returns its value or one error text.
// The member names follow std::expected so the type can be swapped later.
#include <string>
#include <utility>
#include <variant>

namespace kv {

struct Failure {
    std::string text;
};

// Builds the error side of a Result: `return kv::fail("no active console session");`
inline Failure fail(std::string text) { return Failure{std::move(text)}; }

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool has_value() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    template <class U>
    T value_or(U&& fallback) const& {
        return has_value() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

    const std::string& error() const { return std::get<1>(state_).text; }

private:
    std::variant<T, Failure> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : failed_(true), error_(std::move(failure.text)) {}

    bool has_value() const noexcept { return !failed_; }
    explicit operator bool() const noexcept { return has_value(); }
    const std::string& error() const { return error_; }

private:
    bool failed_ = false;
    std::string error_;
};

using Status = Result<void>;

inline Status ok() { return {}; }

}  // namespace kv
