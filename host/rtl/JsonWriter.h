#pragma once
// JSON text of a document appended to a string: the bytes `j.dump()` gives (compact, UTF-8 as it
// stands, members in the document's order), and its faults (a string that is not UTF-8 raises
// the library's type_error), without the intermediate string or a copy of the document.
#include <nlohmann/json.hpp>

#include <string>

void AppendJson(std::string& out, const nlohmann::json& j);
