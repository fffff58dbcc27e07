#pragma once
// JSON text of a document appended to a string: the bytes `j.dump()` gives (compact, UTF-8 as it
// stands, members in the document's order), and its faults (a string that is not UTF-8 raises
// the library's type_error), without the intermediate string or a copy of the document.
#include <nlohmann/json.hpp>

#include <string>

// What a text that is not UTF-8 becomes: the library's type_error, or U+FFFD in its place as
// `dump(-1, ' ', false, error_handler_t::replace)` writes it (the server's logs and answers).
enum class BadUtf8 { Raise, Replace };

void AppendJson(std::string& out, const nlohmann::json& j, BadUtf8 bad = BadUtf8::Raise);
