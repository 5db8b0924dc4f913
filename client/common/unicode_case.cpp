#include "unicode_case.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "text.hpp"

namespace kv {
namespace {

// Code points first..last, every `stride`-th one, lower-case to themselves plus `delta`.
struct LowerRun {
    char32_t first;
    char32_t last;
    std::uint8_t stride;
    std::int32_t delta;
};

// A code point whose lower case is more than one character; unused places are 0.
struct LowerExpansion {
    char32_t from;
    char32_t to[3];
};

struct CodeRange {
    char32_t first;
    char32_t last;
};

#include "unicode_case_tables.inc"

constexpr char32_t capital_sigma = 0x03A3;
constexpr char32_t small_sigma = 0x03C3;
constexpr char32_t final_sigma = 0x03C2;

template <std::size_t N>
bool in_ranges(const CodeRange (&ranges)[N], char32_t cp) {
    const auto after = std::upper_bound(std::begin(ranges), std::end(ranges), cp,
                                        [](char32_t value, const CodeRange& range) { return value < range.first; });
    return after != std::begin(ranges) && cp <= std::prev(after)->last;
}

bool is_cased(char32_t cp) { return in_ranges(cased_ranges, cp); }
bool is_case_ignorable(char32_t cp) { return in_ranges(case_ignorable_ranges, cp); }

char32_t simple_lower(char32_t cp) {
    const auto after = std::upper_bound(std::begin(lower_runs), std::end(lower_runs), cp,
                                        [](char32_t value, const LowerRun& run) { return value < run.first; });
    if (after == std::begin(lower_runs)) return cp;
    const LowerRun& run = *std::prev(after);
    if (cp > run.last || (cp - run.first) % run.stride != 0) return cp;
    return static_cast<char32_t>(static_cast<std::int64_t>(cp) + run.delta);
}

// A cased letter comes before, past any case-ignorable ones, and none comes after.
bool ends_a_word(const std::u32string& text, std::size_t at) {
    std::size_t before = at;
    while (before > 0 && is_case_ignorable(text[before - 1]) && !is_cased(text[before - 1])) --before;
    if (before == 0 || !is_cased(text[before - 1])) return false;
    std::size_t after = at + 1;
    while (after < text.size() && is_case_ignorable(text[after]) && !is_cased(text[after])) ++after;
    return after == text.size() || !is_cased(text[after]);
}

}  // namespace

std::string unicode_lower(std::string_view text) {
    const std::u32string code_points = utf8_to_code_points(text);
    std::u32string lower;
    lower.reserve(code_points.size());
    for (std::size_t i = 0; i < code_points.size(); ++i) {
        const char32_t cp = code_points[i];
        if (cp < 0x80) {
            lower.push_back(cp >= 'A' && cp <= 'Z' ? cp + ('a' - 'A') : cp);
        } else if (cp == capital_sigma) {
            lower.push_back(ends_a_word(code_points, i) ? final_sigma : small_sigma);
        } else if (const auto* expansion = std::find_if(std::begin(lower_expansions), std::end(lower_expansions),
                                                         [cp](const LowerExpansion& e) { return e.from == cp; });
                   expansion != std::end(lower_expansions)) {
            for (const char32_t to : expansion->to) {
                if (to != 0) lower.push_back(to);
            }
        } else {
            lower.push_back(simple_lower(cp));
        }
    }
    return code_points_to_utf8(lower);
}

}  // namespace kv
