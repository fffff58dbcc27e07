// Documents written onto a string against the JSON library's own text of them.
#include "rtl/JsonWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
using json = nlohmann::json;
} // namespace

// Byte for byte what dump() gives, appended to what the string held; and where dump() refuses a
// document (a string that is not UTF-8), the same refusal with the same words.
TEST(JsonWriterTest, WritesWhatTheLibraryWritesOrFailsAsItDoes) {
    const std::vector<json> written = {
        json::parse(
            R"({"fields":[{"name":"A","size":1,"type":"string"}],"changes":[{"op":"update",)"
            R"("old":["x",30,1500.5,null,true,false,-4],"new":{"A":"S"}}]})"),
        json::object(),
        json::array(),
        json{{"", json::array({json::object(), json::array()})}},
        "aspas \" barra \\ controle \b\f\n\r\t \x01\x1f\x7f fim",
        json{{"chave \"com\"\n escapes", "Não, ação — 𝄞 €"}},
        std::string("nulo\0dentro", 11),
        std::numeric_limits<std::int64_t>::min(),
        std::numeric_limits<std::int64_t>::max(),
        std::numeric_limits<std::uint64_t>::max(),
        json::array({0.1, 100.0, -0.0, 1e21, 1e-7, 5e-324, std::nan(""), HUGE_VAL}),
        json::binary({1, 2, 3}),
    };
    for (const json& doc : written) {
        std::string out = "antes:";
        AppendJson(out, doc);
        EXPECT_EQ(out, "antes:" + doc.dump());
    }
    for (const json& bad :
         {json("\xC3"), json("abcdefgh\x80"), json("\xED\xA0\x80"), json("\xC0\x80"),
          json("\xF4\x90\x80\x80"), json{{"ok", {1, json{{"chave\xFF", 2}}}}}}) {
        std::string expected;
        try {
            bad.dump();
        } catch (const json::type_error& e) {
            expected = e.what();
        }
        ASSERT_FALSE(expected.empty());
        std::string out;
        try {
            AppendJson(out, bad);
            ADD_FAILURE() << "aceito: " << out;
        } catch (const json::type_error& e) {
            EXPECT_EQ(std::string(e.what()), expected);
        }
    }
}
