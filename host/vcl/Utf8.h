#pragma once
// Texts are UTF-8; edits count and place characters, so they work on code points.
#include <string>

std::u32string ToU32(const std::string& s);
std::string ToUtf8(const std::u32string& s);
std::string ToUtf8(char32_t c);
size_t Utf8Length(const std::string& s);
