#pragma once
// Texts are UTF-8; edits count and place characters, so they work on code points.
#include <string>
#include <string_view>

std::u32string ToU32(const std::string& s);
std::string ToUtf8(const std::u32string& s);
std::string ToUtf8(char32_t c);

// Number of characters: every byte that does not continue a sequence starts one. Defined here, so
// the application server counts characters as the client does without linking the host library.
inline size_t Utf8Length(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}
