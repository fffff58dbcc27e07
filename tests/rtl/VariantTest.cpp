#include "rtl/Variant.h"

#include <gtest/gtest.h>

#include <limits>

namespace {
class VariantTest : public ::testing::Test {
protected:
    void TearDown() override { FormatSettings() = TFormatSettings(); }
};

Variant RoundTrip(const Variant& v) {
    return Variant::FromJson(nlohmann::json::parse(v.ToJson().dump()));
}
} // namespace

TEST_F(VariantTest, TypeCodes) {
    EXPECT_EQ(Variant().VarType(), varEmpty);
    EXPECT_EQ(Variant::Null().VarType(), varNull);
    EXPECT_EQ(Variant(true).VarType(), varBoolean);
    EXPECT_EQ(Variant(7).VarType(), varInteger);
    EXPECT_EQ(Variant(int64_t{7}).VarType(), varInt64);
    EXPECT_EQ(Variant(size_t{7}).VarType(), varInt64);
    EXPECT_EQ(Variant(7.0).VarType(), varDouble);
    EXPECT_EQ(Variant(TDateTime(1)).VarType(), varDate);
    EXPECT_EQ(Variant("a").VarType(), varString);
    EXPECT_EQ(Variant(String("a")).VarType(), varString);
    EXPECT_EQ(Variant::OleStr("a").VarType(), varOleStr);
    EXPECT_EQ(Variant::Array({}).VarType(), 0x200C);
    EXPECT_EQ(Variant::Json(nlohmann::json::object()).VarType(), varJson);
    EXPECT_THROW(Variant(std::numeric_limits<uint64_t>::max()), EConvertError);
}

TEST_F(VariantTest, StringKinds) {
    for (const Variant& v : {Variant("x"), Variant::OleStr("x")}) {
        EXPECT_TRUE(v.IsString());
        EXPECT_TRUE(VarIsStr(v));
    }
    for (const Variant& v :
         {Variant(), Variant::Null(), Variant(1), Variant(1.5), Variant(TDateTime(1)),
          Variant(true), Variant::Array({"x"}), Variant::Json("x")})
        EXPECT_FALSE(v.IsString()) << v.VarType();
    EXPECT_TRUE(VarIsNull(Variant()) && VarIsNull(Variant::Null()) && !VarIsNull(Variant(0)));
    EXPECT_EQ(Variant(static_cast<const char*>(nullptr)).AsString(), "");
}

TEST_F(VariantTest, Conversions) {
    EXPECT_EQ(Variant::Null().AsString(), "");
    EXPECT_EQ(Variant(true).AsString(), "True");
    EXPECT_EQ(Variant(1.5).AsString(), "1,5");
    EXPECT_EQ(Variant(EncodeDate(2026, 12, 8)).AsString(), "08/12/2026");
    EXPECT_EQ(Variant(EncodeDate(2026, 12, 8) + EncodeTime(14, 5, 0)).AsString(),
              "08/12/2026 14:05:00");
    EXPECT_EQ(Variant::Json({{"a", 1}}).AsString(), R"({"a":1})");
    EXPECT_EQ(Variant("42").AsInteger(), 42);
    EXPECT_EQ(Variant(2.5).AsInteger(), 2);
    EXPECT_EQ(Variant(3.5).AsInteger(), 4);
    EXPECT_DOUBLE_EQ(Variant::OleStr("2,5").AsDouble(), 2.5);
    EXPECT_TRUE(Variant("True").AsBoolean());
    EXPECT_FALSE(Variant("0").AsBoolean());
    EXPECT_EQ(Variant("08/12/2026").AsDateTime().Val, EncodeDate(2026, 12, 8).Val);
    EXPECT_EQ(Variant::OleStr("2026-12-08T14:05:00").AsDateTime().Val,
              EncodeDate(2026, 12, 8) + EncodeTime(14, 5, 0));
    // null is not zero: reading it as a number is an error, empty reads as zero
    EXPECT_THROW(Variant::Null().AsInteger(), EConvertError);
    EXPECT_EQ(Variant().AsInteger(), 0);
    EXPECT_THROW(Variant("abc").AsInteger(), EConvertError);
    EXPECT_THROW(Variant(1e300).AsInteger(), EConvertError);
    EXPECT_THROW(Variant("talvez").AsBoolean(), EConvertError);
    EXPECT_THROW(Variant(1).AsJson(), EConvertError);
    EXPECT_THROW(Variant::Array({1}).AsString(), EConvertError);
}

TEST_F(VariantTest, Arrays) {
    Variant a = Variant::Array({1, "dois", Variant::Array({3.5})});
    EXPECT_EQ(a.ArrayLength(), 3u);
    EXPECT_EQ(a.ArrayHighBound(), 2);
    EXPECT_EQ(VarArrayHighBound(a, 1), 2);
    EXPECT_EQ(Variant::Array({}).ArrayHighBound(), -1);
    a[1] = Variant(9);
    EXPECT_EQ(a.Items()[1].AsInteger(), 9);
    EXPECT_EQ(a[2][0].AsDouble(), 3.5);
    EXPECT_THROW(a[3], EConvertError);
    EXPECT_THROW(Variant(1)[0], EConvertError);
    EXPECT_THROW(Variant(1).ArrayLength(), EConvertError);
    EXPECT_THROW(VarArrayHighBound(a, 2), EConvertError);
}

TEST_F(VariantTest, Equality) {
    EXPECT_EQ(Variant(1), Variant(int64_t{1}));
    EXPECT_EQ(Variant(1), Variant(1.0));
    EXPECT_NE(Variant(1), Variant(1.5));
    EXPECT_EQ(Variant("a"), Variant::OleStr("a"));
    EXPECT_NE(Variant("1"), Variant(1));
    EXPECT_NE(Variant(true), Variant(1));
    EXPECT_NE(Variant(), Variant::Null());
    EXPECT_NE(Variant(TDateTime(1)), Variant(1.0));
    // beyond 2^53 a double cannot tell neighbours apart; equality must not pretend it can
    const int64_t big = (int64_t{1} << 53) + 1;
    EXPECT_NE(Variant(big), Variant(static_cast<double>(big)));
    EXPECT_EQ(Variant::Array({1, "x"}), Variant::Array({1.0, Variant::OleStr("x")}));
    EXPECT_NE(Variant::Array({1}), Variant::Array({1, 2}));
}

TEST_F(VariantTest, JsonRoundTripOfEveryKind) {
    const TDateTime when = EncodeDate(2026, 12, 8) + EncodeTime(14, 5, 0, 250);
    const Variant all =
        Variant::Array({Variant::Null(), true, 42, int64_t{1} << 40, 2.5, 30.0, Variant(when),
                        Variant(EncodeDate(1850, 1, 1)), "texto ç", Variant::OleStr("wire"),
                        Variant::Array({Variant::Array({}), Variant::Array({1, Variant::Null()})}),
                        Variant::Json({{"rows", {1, 2}}, {"delta", nullptr}})});
    const Variant back = RoundTrip(all);
    EXPECT_EQ(back, all);
    ASSERT_EQ(back.ArrayLength(), all.ArrayLength());
    for (size_t i = 0; i < all.ArrayLength(); ++i) {
        uint16_t expected = all[i].IsString() ? uint16_t{varOleStr} : all[i].VarType();
        EXPECT_EQ(back[i].VarType(), expected) << i;
    }
    EXPECT_EQ(back[6].AsDateTime().Val, when.Val);
    EXPECT_EQ(Variant(when).ToJson(), nlohmann::json({{"$date", "2026-12-08T14:05:00.250"}}));
    EXPECT_EQ(Variant(DateOf(when)).ToJson()["$date"], "2026-12-08T00:00:00");
    // empty travels as null
    EXPECT_TRUE(RoundTrip(Variant()).IsNull());
    // A document nested far deeper than any call stack could follow is let go of, its copies
    // first, and what is still held stays whole.
    nlohmann::json deep = nlohmann::json::array();
    for (int i = 0; i < 200000; ++i)
        deep = nlohmann::json::array({std::move(deep), i});
    const Variant held = Variant::Json(nlohmann::json{{"a", {1, {{"b", "x"}}}}});
    {
        const Variant doc = Variant::Json(std::move(deep));
        const Variant copy = Variant::Array({doc, held});
        EXPECT_EQ(copy[0].AsJson()[1], 199999);
    }
    EXPECT_EQ(held.AsJson().dump(), R"({"a":[1,{"b":"x"}]})");
}

TEST_F(VariantTest, FromJsonEdges) {
    using nlohmann::json;
    EXPECT_EQ(Variant::FromJson(json::parse("2147483647")).VarType(), varInteger);
    EXPECT_EQ(Variant::FromJson(json::parse("2147483648")).VarType(), varInt64);
    EXPECT_EQ(Variant::FromJson(json::parse("-2147483649")).VarType(), varInt64);
    EXPECT_THROW(Variant::FromJson(json::parse("18446744073709551615")), EConvertError);
    // "$date" with company is an ordinary document
    EXPECT_EQ(Variant::FromJson(json::parse(R"({"$date":"2026-01-01","x":1})")).VarType(), varJson);
    EXPECT_THROW(Variant::FromJson(json::parse(R"({"$date":"ontem"})")), EConvertError);
    EXPECT_THROW(Variant(std::numeric_limits<double>::quiet_NaN()).ToJson(), EConvertError);
}

TEST_F(VariantTest, Format) {
    EXPECT_EQ(Format("%s tem %d itens (%%)", {"Pedido", 3}), "Pedido tem 3 itens (%)");
    EXPECT_EQ(Format("%f|%.1f|%.0f", {2.5, 0.05, 2.5}), "2,50|0,1|3");
    EXPECT_EQ(Format("%n", {1234567.891}), "1.234.567,89");
    EXPECT_EQ(Format("[%5d][%-5s][%.3d]", {42, "ação", 7}), "[   42][ação ][007]");
    EXPECT_EQ(Format("%1:s %0:s", {"a", "b"}), "b a");
    EXPECT_EQ(Format("%d", {3.0}), "3");
    EXPECT_EQ(Format("%s", {Variant::Null()}), "");
    EXPECT_THROW(Format("%d", {2.5}), EConvertError); // would drop the fraction
    EXPECT_THROW(Format("%d %d", {1}), EConvertError);
    EXPECT_THROW(Format("%d", {"abc"}), EConvertError);
    EXPECT_THROW(Format("%q", {1}), EConvertError);
    EXPECT_THROW(Format("100%", {}), EConvertError);
}

// Nesting is limited before the document is built; brackets inside texts do not nest.
TEST(ParseJsonLimitedTest, NestingLimitAndTextsWithBrackets) {
    auto nested = [](int levels, const std::string& inner) {
        return std::string(static_cast<size_t>(levels), '[') + inner +
               std::string(static_cast<size_t>(levels), ']');
    };
    EXPECT_EQ(ParseJsonLimited(nested(64, "1"), 64).dump(), nested(64, "1"));
    EXPECT_THROW(ParseJsonLimited(nested(65, "1"), 64), EConvertError);
    EXPECT_THROW(ParseJsonLimited(nested(3, "{\"a\":1}"), 3), EConvertError);
    const std::string texts = R"({"a":"[[[{{\"]]","b":["\\",{"c":"}"}]})";
    EXPECT_EQ(ParseJsonLimited(texts, 3)["b"][1]["c"], "}");
    for (const char* bad : {"[1,", "{\"a\" 1}", "\"[", "]]]", ""})
        EXPECT_THROW(ParseJsonLimited(bad), EConvertError) << bad;

    // A result taken over keeps what it holds.
    nlohmann::json doc = ParseJsonLimited(R"(["S",{"rows":[[1,"x"]]},{"$date":"2026-12-08"}])");
    const Variant v = Variant::FromJson(std::move(doc));
    EXPECT_EQ(v[1].AsJson()["rows"][0][1], "x");
    EXPECT_EQ(v[0].AsString(), "S");
    EXPECT_EQ(v[2].VarType(), varDate);
}
