#pragma once
// How the scripted stand-ins write bytes in their one-line script steps and log lines:
// \s \t \r \n \\ stand for space, tab, CR, LF and a backslash.
#include <string>

namespace kv::testing {

inline std::string unescape_script_text(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 's' ? ' ' : c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    return out;
}

// Line ends shown as \r and \n, so a reply fits on one log line.
inline std::string escape_line_ends(const std::string& text) {
    std::string out;
    for (const char c : text) out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
    return out;
}

}  // namespace kv::testing
