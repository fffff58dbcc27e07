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

// The bytes of the well-formed UTF-8 sequence at `p` (its first byte 0x80 or above, `end` the end
// of the text), or 0: no overlong forms, no surrogates, nothing above U+10FFFF.
inline size_t Utf8SequenceAt(const char* text, const char* end) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto at = [&](size_t i) { return text + i < end ? static_cast<unsigned>(p[i]) : 0u; };
    const auto in = [](unsigned c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; };
    const unsigned c = at(0);
    if (in(c, 0xC2, 0xDF)) return in(at(1), 0x80, 0xBF) ? 2 : 0;
    if (in(c, 0xE0, 0xEF)) {
        const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) ? 3 : 0;
    }
    if (in(c, 0xF0, 0xF4)) {
        const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

// Whether the bytes are well-formed UTF-8.
inline bool ValidUtf8(std::string_view s) {
    for (const char *p = s.data(), *end = s.data() + s.size(); p != end;) {
        const size_t n = static_cast<unsigned char>(*p) < 0x80 ? 1 : Utf8SequenceAt(p, end);
        if (n == 0) return false;
        p += n;
    }
    return true;
}
