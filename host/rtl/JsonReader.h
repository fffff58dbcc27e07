#pragma once
// A quick reader for the JSON that servers and files are usually made of, straight into a tree.
// It reads plain strings (any escape but \u, well-formed UTF-8), integers of up to 18 digits,
// decimals that a double holds, true, false and null, nested at most `maxDepth` levels. On
// anything else (a \u escape, a longer or out-of-range number, a byte-order mark, any fault) it
// gives up and returns false, leaving the text to the full parser, which reads it or says what is
// wrong: what it returns is what the full parser would, value and kind of number alike.
#include <nlohmann/json.hpp>

#include <string_view>

bool ReadPlainJson(std::string_view text, int maxDepth, nlohmann::json& out);
