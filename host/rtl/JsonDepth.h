#pragma once
// How deep a JSON text nests, measured by a scan of its brackets outside strings, so a caller can
// refuse a too-deep document before the plain parser (much cheaper than one that calls back for
// every value) builds it. Header-only so the server shares it.
#include <cstddef>
#include <string_view>

inline bool JsonNestsBeyond(std::string_view text, int maxDepth) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}
