#pragma once
// Strict JSON reading for the update engine's files: one value and only white space after
// it, no key given twice, and messages that say where ("... at line {} column {}").
#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace kv {

struct JsonDocument {
    nlohmann::json value;
    // Byte offset just past the closing brace of each object, by JSON pointer ("" is the root).
    std::map<std::string, std::size_t> object_ends;
    std::string text;
};

// Errors: "duplicate field `{}` at line {} column {}" or the parser's own message.
Result<JsonDocument> parse_json_document(std::string_view text);

// "line {} column {}" of a byte offset (column counts bytes from the line's start).
std::string describe_position(std::string_view text, std::size_t offset);

// Typed access to one object's fields; `pointer` names the object for error positions.
class JsonObjectReader {
public:
    JsonObjectReader(const JsonDocument& document, const nlohmann::json& object, std::string pointer);

    Result<std::string> required_string(const char* key) const;
    Result<std::vector<std::string>> optional_string_list(const char* key) const;
    Result<std::uint64_t> required_unsigned(const char* key, std::uint64_t maximum) const;
    Result<std::uint64_t> optional_unsigned(const char* key, std::uint64_t maximum) const;
    Result<std::string> optional_string(const char* key) const;
    const nlohmann::json* find(const char* key) const;
    std::string where() const;  // " at line {} column {}" of the object's end

private:
    const JsonDocument& document_;
    const nlohmann::json& object_;
    std::string pointer_;
};

// "invalid type: {found}, expected {expected}"
std::string invalid_type(const nlohmann::json& value, const char* expected);

}  // namespace kv
