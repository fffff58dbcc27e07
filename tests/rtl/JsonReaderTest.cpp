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
    struct Case {
        std::string text;
        bool quick; // the reader takes it itself
    };
    const std::vector<Case> cases = {
        {R"({"id":7,"jsonrpc":"2.0","result":["S",{"fields":[{"name":"A","size":1,)"
         R"("type":"string"}],"rows":[["x",30,1.5,null,true,false,-4]]},"08/12/2026"]})",
         true},
        {" \t\r\n[ {} , [ ] , \"\" ] \n", true},
        {"-0", true},
        {"-0.0", true},
        {"123456789012345678", true},
        {"-123456789012345678", true},
        {"[1.5e3,1E+2,2.5e-3,0.1,2.2250738585072014e-308,1.7976931348623157e308]", true},
        {"\"Não, ação — 𝄞\"", true},
        {R"("a\"b\\c\/d\b\f\n\r\t")", true},
        {R"({"b":1,"a":2,"b":[3]})", true},
        // Read by the full parser.
        {R"("\u00e3\ud834\udd1e")", false},
        {"1234567890123456789", false},
        {"-9223372036854775808", false},
        {"18446744073709551616", false},
        {"1e-400", false},
        {"\xEF\xBB\xBF[1]", false},
        // Refused by both.
        {"1e400", false},
        {"01", false},
        {"1.", false},
        {".5", false},
        {"-", false},
        {"+1", false},
        {"[1,]", false},
        {R"({"a":1,})", false},
        {"[1 2]", false},
        {R"({"a" 1})", false},
        {"{1:2}", false},
        {"tru", false},
        {"nulls", false},
        {"[1]x", false},
        {"", false},
        {"  ", false},
        {"\"a\x01\"", false},
        {"\"a", false},
        {R"("\x")", false},
        {R"("\ud800")", false},
        {std::string("\"a\0b\"", 5), false},
        {"\"\xC0\x80\"", false},
        {"\"\xE0\x80\x80\"", false},
        {"\"\xED\xA0\x80\"", false},
        {"\"\xF4\x90\x80\x80\"", false},
        {"\"\xF5\x80\x80\x80\"", false},
        {"\"\xC3\"", false},
        {"\"\x80\"", false},
    };
    for (const Case& c : cases) {
        const std::optional<json> full = FullParser(c.text);
        json quick;
        const bool took = ReadPlainJson(c.text, 64, quick);
        EXPECT_EQ(took, c.quick) << c.text;
        if (took) {
            EXPECT_TRUE(full && Same(quick, *full)) << c.text;
        }
        try {
            const json got = ParseJsonLimited(c.text);
            EXPECT_TRUE(full && Same(got, *full)) << c.text;
        } catch (const EConvertError&) {
            EXPECT_FALSE(full) << c.text;
        }
    }
    // Nesting to the limit is read; beyond it, left to the full parser to refuse.
    json doc;
    EXPECT_TRUE(ReadPlainJson(std::string(64, '[') + std::string(64, ']'), 64, doc));
    EXPECT_FALSE(ReadPlainJson(std::string(65, '[') + std::string(65, ']'), 64, doc));
    EXPECT_FALSE(ReadPlainJson(R"({"a":{"b":[1]}})", 2, doc));
}
