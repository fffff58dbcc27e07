// The quick reader of plain JSON against the full parser it stands in for.
#include "rtl/JsonReader.h"
#include "rtl/JsonDepth.h"
#include "rtl/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace {

using json = nlohmann::json;

// Equal values of the same kinds all the way down (30 unsigned is not 30 signed, -0.0 is not 0.0).
bool Same(const json& a, const json& b) {
    if (a.type() != b.type()) return false;
    if (a.is_array()) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (!Same(a[i], b[i])) return false;
        return true;
    }
    if (a.is_object()) {
        if (a.size() != b.size()) return false;
        for (const auto& [name, value] : a.items())
            if (!b.contains(name) || !Same(value, b[name])) return false;
        return true;
    }
    if (a.is_number_float())
        return a.get<double>() == b.get<double>() &&
               std::signbit(a.get<double>()) == std::signbit(b.get<double>());
    return a == b;
}

// What the full parser makes of a text, nothing when it refuses it.
std::optional<json> FullParser(const std::string& text) {
    if (JsonNestsBeyond(text, 64)) return std::nullopt;
    try {
        return json::parse(text);
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

} // namespace

// For each text the reader either gives what the full parser gives, or gives up; it takes the
// plain texts itself (so the comparison is not of the full parser with itself), and whatever it
// leaves is read, or refused, as before.
TEST(JsonReaderTest, ReadsAsTheFullParserOrLeavesTheTextToIt) {
    const std::vector<std::string> plain = {
        R"({"id":7,"jsonrpc":"2.0","result":["S",{"fields":[{"name":"A","size":1,)"
        R"("type":"string"}],"rows":[["x",30,1.5,null,true,false,-4]]},"08/12/2026"]})",
        " \t\r\n[ {} , [ ] , \"\" ] \n", "-0", "-0.0", "123456789012345678", "-123456789012345678",
        "[1.5e3,1E+2,2.5e-3,0.1,2.2250738585072014e-308,1.7976931348623157e308]",
        "\"Não, ação — 𝄞\"", R"("a\"b\\c\/d\b\f\n\r\t")", R"({"b":1,"a":2,"b":[3]})",
        // arrays within arrays, and long strings whose plain runs end at every kind of byte
        R"([[1,[2,3],[]],{"a":[4,[5]],"b":[]},[[["x"]]],6])",
        R"(["0123456789abcdef\"ghij","abcdefghijklmn\\","abcdefghijklmnoçã~~~~~~~~~"])",
        "[\"abcdefgh\x7f\x20~~~~~~~~~~~~~~~~\",\"0123456789abcdefghijklmnopqrstuv\"]"};
    const std::vector<std::string> left = {
        // read by the full parser
        R"("\u00e3\ud834\udd1e")", "1234567890123456789", "-9223372036854775808",
        "18446744073709551616", "1e-400", "\xEF\xBB\xBF[1]",
        // refused by both
        "1e400", "01", "1.", ".5", "-", "+1", "[1,]", R"({"a":1,})", "[1 2]", R"({"a" 1})", "{1:2}",
        "tru", "nulls", "[1]x", "", "  ", "\"a\x01\"", "\"a", R"("\x")", R"("\ud800")",
        std::string("\"a\0b\"", 5), "\"\xC0\x80\"", "\"\xE0\x80\x80\"", "\"\xED\xA0\x80\"",
        "\"\xF4\x90\x80\x80\"", "\"\xF5\x80\x80\x80\"", "\"\xC3\"", "\"\x80\"",
        "\"abcdefghij\x01klmnop\"", "\"abcdefghijklmno\x80\"", "[[1,2],[3,", "\"abcdefghijklmnop"};
    for (const auto* texts : {&plain, &left})
        for (const std::string& text : *texts) {
            const std::optional<json> full = FullParser(text);
            json quick;
            const bool took = ReadPlainJson(text, 64, quick);
            EXPECT_EQ(took, texts == &plain) << text;
            if (took) {
                EXPECT_TRUE(full && Same(quick, *full)) << text;
            }
            try {
                const json got = ParseJsonLimited(text);
                EXPECT_TRUE(full && Same(got, *full)) << text;
            } catch (const EConvertError&) {
                EXPECT_FALSE(full) << text;
            }
        }
    // Nesting to the limit is read; beyond it, left to the full parser to refuse.
    json doc;
    EXPECT_TRUE(ReadPlainJson(std::string(64, '[') + std::string(64, ']'), 64, doc));
    EXPECT_FALSE(ReadPlainJson(std::string(65, '[') + std::string(65, ']'), 64, doc));
    EXPECT_FALSE(ReadPlainJson(R"({"a":{"b":[1]}})", 2, doc));
}
