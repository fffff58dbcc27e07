// The server's own reading and writing of JSON text against the library's: the quick paths must
// give the same tree and the same bytes (a save's idempotency digest hashes the written params).
#include "JsonRpc.h"
#include "RpcError.h"

#include <gtest/gtest.h>

#include <limits>

using nlohmann::json;

TEST(JsonText, WritesTheLibrarysBytesAndReadsItsTree) {
    const json values[] = {
        json::parse(R"({"fields":[{"name":"CDFORNECED","size":21,"type":"string"}],)"
                    R"("changes":[{"op":"update","old":["000008",12.5,null,true,false,-3],)"
                    R"("new":{"IDSIMPLESNACIONAL":"S","Z":[],"A":{}}}]})"),
        json::array({"aspas \" e barra \\ e / barra", "Razão Social Ltda", "tab\t nova\n",
                     std::string("nulo\0dentro", 11), "\x7f", "\x01\x1f", "inválido \xff\xfe",
                     "\xf0\x9f\x98\x80 \xe2\x82\xac", "\xc0\xaf", "\xed\xa0\x80", "\xe2\x82",
                     "\xf4\x90\x80\x80"}),
        json::array({0.1, 1e300, -0.0, 100.0, 1e-7, 123456789012345678.0, 5e-324}),
        json::array({std::numeric_limits<std::int64_t>::min(),
                     std::numeric_limits<std::uint64_t>::max(), 0, -1}),
        json::object({{"é", 1}, {"\"", 2}, {"", 3}}),
        json(),
        json("só texto"),
        json(true)};
    for (const json& v : values) {
        const std::string text = DumpJson(v);
        EXPECT_EQ(text, v.dump(-1, ' ', false, json::error_handler_t::replace)) << text;
        // Read back (the invalid UTF-8 was written as U+FFFD), the tree is the library's.
        EXPECT_EQ(ParseRequestJson(text), json::parse(text)) << text;
    }
    // What the quick reader leaves to the full parser comes out the same, or refused as before.
    for (const char* text : {R"(["\u00e9\ud83d\ude00"])", "[1e400]", "[123456789012345678901234]",
                             "\xef\xbb\xbf[1]", "[1.5E+3, -0, 2e-5]"}) {
        json ours, library;
        try {
            ours = ParseRequestJson(text);
            EXPECT_EQ(ours, json::parse(text)) << text;
        } catch (const RpcError& e) {
            EXPECT_EQ(e.Code(), kRpcParseError) << text;
            EXPECT_ANY_THROW(library = json::parse(text)) << text;
        }
    }
    for (const std::string& text :
         {std::string("[1e-400]"), std::string(65, '[') + std::string(65, ']'), std::string("[1,]"),
          std::string("{\"a\" 1}")}) {
        try {
            (void)ParseRequestJson(text);
            ADD_FAILURE() << "aceito: " << text;
        } catch (const RpcError& e) {
            EXPECT_EQ(e.Code(), kRpcParseError) << text;
        }
    }
}
