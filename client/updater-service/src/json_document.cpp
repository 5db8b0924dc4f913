#include "json_document.hpp"

#include <iterator>

namespace kv {
namespace {

using nlohmann::json;

// Walks the bytes for the parser while counting how many it has taken, so the handler
// knows where in the text each event happens.
class CountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator(const char* at, std::size_t* consumed) : at_(at), consumed_(consumed) {}
    reference operator*() const { return *at_; }
    CountingIterator& operator++() {
        ++at_;
        ++*consumed_;
        return *this;
    }
    CountingIterator operator++(int) {
        CountingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const CountingIterator& other) const { return at_ == other.at_; }
    bool operator!=(const CountingIterator& other) const { return at_ != other.at_; }

private:
    const char* at_;
    std::size_t* consumed_;
};

std::string escape_pointer_token(const std::string& token) {
    std::string escaped;
    for (const char c : token) {
        if (c == '~') escaped += "~0";
        else if (c == '/') escaped += "~1";
        else escaped += c;
    }
    return escaped;
}

// Builds the value like the library's own DOM builder, and refuses a repeated key.
class StrictHandler final : public nlohmann::json_sax<json> {
public:
    StrictHandler(std::string_view text, const std::size_t* consumed, JsonDocument& document)
        : text_(text), consumed_(consumed), document_(document) {}

    const std::string& error() const { return error_; }

    bool null() override { return add(nullptr); }
    bool boolean(bool value) override { return add(value); }
    bool number_integer(number_integer_t value) override { return add(value); }
    bool number_unsigned(number_unsigned_t value) override { return add(value); }
    bool number_float(number_float_t value, const string_t&) override { return add(value); }
    bool string(string_t& value) override { return add(value); }
    bool binary(binary_t& value) override { return add(json::binary(value)); }

    bool start_object(std::size_t) override {
        json* object = add_container(json::object());
        stack_.push_back({object, {}, 0});
        return true;
    }
    bool key(string_t& key) override {
        Frame& frame = stack_.back();
        if (frame.value->contains(key)) {
            error_ = "duplicate field `" + key + "` at " + describe_position(text_, *consumed_);
            return false;
        }
        frame.key = key;
        return true;
    }
    bool end_object() override {
        document_.object_ends[current_pointer()] = *consumed_;
        stack_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override {
        json* array = add_container(json::array());
        stack_.push_back({array, {}, 0});
        return true;
    }
    bool end_array() override {
        stack_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& failure) override {
        std::string message = failure.what();
        // Drop the library's "[json.exception.parse_error.101] " tag; keep its description.
        if (const auto tag_end = message.find("] "); message.starts_with("[json.exception") && tag_end != std::string::npos) {
            message.erase(0, tag_end + 2);
        }
        error_ = message;
        return false;
    }

private:
    struct Frame {
        json* value;
        std::string key;
        std::size_t next_index;
    };

    std::string current_pointer() const {
        std::string pointer;
        for (size_t i = 0; i + 1 < stack_.size(); ++i) {
            const Frame& parent = stack_[i];
            pointer += "/";
            pointer += parent.value->is_object() ? escape_pointer_token(parent.key) : std::to_string(parent.next_index - 1);
        }
        return pointer;
    }

    template <class Value>
    bool add(Value&& value) {
        add_container(json(std::forward<Value>(value)));
        return true;
    }

    json* add_container(json value) {
        if (stack_.empty()) {
            document_.value = std::move(value);
            return &document_.value;
        }
        Frame& parent = stack_.back();
        if (parent.value->is_object()) return &((*parent.value)[parent.key] = std::move(value));
        parent.value->push_back(std::move(value));
        ++parent.next_index;
        return &parent.value->back();
    }

    std::string_view text_;
    const std::size_t* consumed_;
    JsonDocument& document_;
    std::vector<Frame> stack_;
    std::string error_;
};

std::string type_name(const json& value) {
    switch (value.type()) {
        case json::value_t::null: return "null";
        case json::value_t::boolean: return std::string("boolean `") + (value.get<bool>() ? "true" : "false") + "`";
        case json::value_t::number_integer: return "integer `" + value.dump() + "`";
        case json::value_t::number_unsigned: return "integer `" + value.dump() + "`";
        case json::value_t::number_float: return "floating point `" + value.dump() + "`";
        case json::value_t::string: return "string " + value.dump();
        case json::value_t::array: return "sequence";
        case json::value_t::object: return "map";
        default: return "value";
    }
}

struct TextPosition {
    std::size_t line = 1;
    std::size_t column = 0;  // characters before the offset on its line
};

TextPosition position_of(std::string_view text, std::size_t offset) {
    TextPosition position;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++position.line;
            line_start = i + 1;
        }
    }
    position.column = offset - line_start;
    return position;
}

// Worded as the parser words trailing input.
std::string trailing_input_error(std::string_view text, std::size_t offset) {
    const TextPosition at = position_of(text, offset);
    return "parse error at line " + std::to_string(at.line) + ", column " + std::to_string(at.column + 1) +
           ": syntax error while parsing value - invalid literal; last read: '<U+0000>'; expected end of input";
}

}  // namespace

std::string describe_position(std::string_view text, std::size_t offset) {
    const TextPosition at = position_of(text, std::min(offset, text.size()));
    return "line " + std::to_string(at.line) + " column " + std::to_string(at.column);
}

std::string invalid_type(const json& value, const char* expected) {
    return "invalid type: " + type_name(value) + ", expected " + expected;
}

Result<JsonDocument> parse_json_document(std::string_view text) {
    JsonDocument document;
    document.text = std::string(text);
    std::size_t consumed = 0;
    StrictHandler handler(document.text, &consumed, document);
    const char* begin = document.text.data();
    const bool parsed = json::sax_parse(CountingIterator(begin, &consumed),
                                        CountingIterator(begin + document.text.size(), &consumed), &handler);
    if (!parsed) return fail(handler.error().empty() ? std::string("invalid JSON") : handler.error());
    // The parser takes a NUL byte for the end of the input, so "{...}\0garbage" would pass; no
    // valid document holds a raw NUL, so one after the value is trailing input like any other.
    if (const std::size_t nul = document.text.find('\0'); nul != std::string::npos) {
        return fail(trailing_input_error(document.text, nul));
    }
    return document;
}

JsonObjectReader::JsonObjectReader(const JsonDocument& document, const json& object, std::string pointer)
    : document_(document), object_(object), pointer_(std::move(pointer)) {}

std::string JsonObjectReader::where() const {
    const auto end = document_.object_ends.find(pointer_);
    return end == document_.object_ends.end() ? std::string() : " at " + describe_position(document_.text, end->second);
}

const json* JsonObjectReader::find(const char* key) const {
    const auto found = object_.find(key);
    return found == object_.end() ? nullptr : &*found;
}

Result<std::string> JsonObjectReader::optional_string(const char* key) const {
    const json* value = find(key);
    if (value == nullptr) return std::string();
    if (!value->is_string()) return fail(invalid_type(*value, "a string") + " for field `" + key + "`" + where());
    return value->get<std::string>();
}

Result<std::string> JsonObjectReader::required_string(const char* key) const {
    if (find(key) == nullptr) return fail(std::string("missing field `") + key + "`" + where());
    return optional_string(key);
}

Result<std::vector<std::string>> JsonObjectReader::optional_string_list(const char* key) const {
    const json* value = find(key);
    std::vector<std::string> list;
    if (value == nullptr) return list;
    if (!value->is_array()) return fail(invalid_type(*value, "a sequence") + " for field `" + key + "`" + where());
    for (const json& item : *value) {
        if (!item.is_string()) return fail(invalid_type(item, "a string") + " in field `" + key + "`" + where());
        list.push_back(item.get<std::string>());
    }
    return list;
}

Result<std::uint64_t> JsonObjectReader::optional_unsigned(const char* key, std::uint64_t maximum) const {
    const json* value = find(key);
    if (value == nullptr) return std::uint64_t{0};
    const std::string expected = maximum == UINT32_MAX ? "u32" : "u64";
    if (value->is_number_unsigned()) {
        const auto number = value->get<std::uint64_t>();
        if (number <= maximum) return number;
        return fail("invalid value: integer `" + value->dump() + "`, expected " + expected + " for field `" + key + "`" + where());
    }
    if (value->is_number_integer()) {
        return fail("invalid value: integer `" + value->dump() + "`, expected " + expected + " for field `" + key + "`" + where());
    }
    return fail(invalid_type(*value, expected.c_str()) + " for field `" + key + "`" + where());
}

Result<std::uint64_t> JsonObjectReader::required_unsigned(const char* key, std::uint64_t maximum) const {
    if (find(key) == nullptr) return fail(std::string("missing field `") + key + "`" + where());
    return optional_unsigned(key, maximum);
}

}  // namespace kv
