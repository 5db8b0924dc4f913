// Text conversion, lower-casing, the verb parser and the tasklist matcher take bytes from outside.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "image_listing.hpp"
#include "text.hpp"
#include "unicode_case.hpp"
#include "verbs.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string clean = kv::utf8_lossy(bytes);
    // Lossy decoding yields valid UTF-8, which must survive a round trip unchanged.
    if (kv::utf8_lossy(clean) != clean) __builtin_trap();
    if (kv::utf16_to_utf8_lossy(kv::utf8_to_utf16(clean)) != clean) __builtin_trap();

    // Lower case is valid text, and lowering it again changes nothing.
    const std::string lower = kv::unicode_lower(bytes);
    if (kv::utf8_lossy(lower) != lower || kv::unicode_lower(lower) != lower) __builtin_trap();
    if (kv::code_points_to_utf8(kv::utf8_to_code_points(bytes)) != clean) __builtin_trap();

    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    (void)kv::utf16_to_utf8_lossy(units);

    (void)kv::parse_verb({std::string(bytes)});
    (void)kv::listing_mentions_image(bytes, bytes.substr(0, size / 2));
    return 0;
}
