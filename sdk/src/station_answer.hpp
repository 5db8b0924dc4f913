#pragma once
// What every SDK call yields: a status of the C interface and one text (the reply line as
// the service sent it, or the SDK's error text). Errors are values here too; the C layer
// only copies them out.
#include <optional>
#include <string>
#include <utility>

#include "kestrivon_station.h"

namespace kv::station {

struct Answer {
    kv_status status = KV_OK;
    std::string text;

    bool ok() const { return status == KV_OK; }
};

inline Answer answer(kv_status status, std::string text) { return Answer{status, std::move(text)}; }

// A value, or the answer that says why there is none.
template <class T>
class Outcome {
public:
    Outcome(T value) : value_(std::move(value)) {}
    Outcome(Answer failure) : failure_(std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    T& value() { return *value_; }
    T* operator->() { return &*value_; }
    const Answer& failure() const { return failure_; }

private:
    std::optional<T> value_;
    Answer failure_;
};

}  // namespace kv::station
