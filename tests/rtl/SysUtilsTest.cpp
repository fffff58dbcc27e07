#include "rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace {
class SysUtils : public ::testing::Test {
protected:
    void TearDown() override { FormatSettings() = TFormatSettings(); }
};

String ConvertMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return "<no error>";
}
} // namespace

TEST_F(SysUtils, AbortIsSilentException) {
    try {
        Abort();
    } catch (const Exception& e) {
        EXPECT_NE(dynamic_cast<const EAbort*>(&e), nullptr);
        EXPECT_STREQ(e.what(), "Operação cancelada");
    }
}

TEST_F(SysUtils, StrToIntLimitsAndOverflow) {
    EXPECT_EQ(StrToInt(" -2147483648 "), std::numeric_limits<int>::min());
    EXPECT_EQ(StrToInt("+2147483647"), std::numeric_limits<int>::max());
    EXPECT_THROW(StrToInt("2147483648"), EConvertError);
    EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
    int out = 7;
    for (const char* bad : {"", " ", "+", "-", "+-1", "1 2", "12a", "1,0", "0x10"}) {
        EXPECT_FALSE(TryStrToInt(bad, out)) << bad;
        EXPECT_EQ(out, 7) << "failed conversion must leave the output alone";
    }
    EXPECT_EQ(ConvertMessage([] { StrToInt("abc"); }), "'abc' não é um valor inteiro válido");
}

// Decision pinned here: with the Brazilian settings the dot is the thousands separator and
// StrToFloat refuses it (and any grouping), instead of guessing what "1.500" meant.
TEST_F(SysUtils, StrToFloatUsesOnlyTheDecimalSeparator) {
    EXPECT_DOUBLE_EQ(StrToFloat("1,5"), 1.5);
    EXPECT_DOUBLE_EQ(StrToFloat("-0,25"), -0.25);
    EXPECT_DOUBLE_EQ(StrToFloat(",5"), 0.5);
    EXPECT_DOUBLE_EQ(StrToFloat("1,5E3"), 1500);
    EXPECT_THROW(StrToFloat("1.5"), EConvertError);
    EXPECT_THROW(StrToFloat("1.234,5"), EConvertError);
    EXPECT_THROW(StrToFloat(","), EConvertError);
    EXPECT_THROW(StrToFloat("1e"), EConvertError);
    EXPECT_THROW(StrToFloat("1e999"), EConvertError);
    EXPECT_THROW(StrToFloat("nan"), EConvertError);
    EXPECT_EQ(ConvertMessage([] { StrToFloat("x"); }), "'x' não é um valor numérico válido");

    FormatSettings().DecimalSeparator = '.';
    EXPECT_DOUBLE_EQ(StrToFloat("1.5"), 1.5);
    EXPECT_THROW(StrToFloat("1,5"), EConvertError);
}

TEST_F(SysUtils, FloatToStrReadsBackAndHidesBinaryNoise) {
    EXPECT_EQ(FloatToStr(1.5), "1,5");
    EXPECT_EQ(FloatToStr(30), "30");
    EXPECT_EQ(FloatToStr(-0.0), "0");
    EXPECT_EQ(FloatToStr(0.1 + 0.2), "0,3");
    for (double v : {1e20, 1.25e-7, -123456.789, 1.0 / 3}) {
        const double back = StrToFloat(FloatToStr(v));
        EXPECT_NEAR(back, v, std::fabs(v) * 1e-14) << FloatToStr(v);
    }
}

TEST_F(SysUtils, FormatFloatGroupedTwoDecimals) {
    EXPECT_EQ(FormatFloat("#,##0.00", 0), "0,00");
    EXPECT_EQ(FormatFloat("#,##0.00", 0.005), "0,01");
    EXPECT_EQ(FormatFloat("#,##0.00", 1.005), "1,01"); // stored as 1.00499999...
    EXPECT_EQ(FormatFloat("#,##0.00", 2.675), "2,68");
    EXPECT_EQ(FormatFloat("#,##0.00", -0.005), "-0,01");
    EXPECT_EQ(FormatFloat("#,##0.00", -0.004), "0,00"); // no "-0,00"
    EXPECT_EQ(FormatFloat("#,##0.00", 999.999), "1.000,00");
    EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1.234.567,89");
    EXPECT_EQ(FormatFloat("#,##0.00", -1234567.891), "-1.234.567,89");
    EXPECT_EQ(FormatFloat("#,##0.00", 1e15), "1.000.000.000.000.000,00");
    EXPECT_EQ(FormatFloat("#,##0.00", 123456789012.34), "123.456.789.012,34");
}

TEST_F(SysUtils, FormatFloatOtherPatterns) {
    EXPECT_EQ(FormatFloat("0", 2.5), "3");
    EXPECT_EQ(FormatFloat("0", -2.5), "-3");
    EXPECT_EQ(FormatFloat("0.00", 0.5), "0,50");
    EXPECT_EQ(FormatFloat("#,##0", 1234.5), "1.235");
    EXPECT_EQ(FormatFloat("#", 0), "");
    EXPECT_EQ(FormatFloat("#", 42), "42");
    EXPECT_EQ(FormatFloat("000", 7), "007");
    EXPECT_EQ(FormatFloat("0.##", 1.5), "1,5");
    EXPECT_EQ(FormatFloat("0.0#", 2), "2,0");
    EXPECT_EQ(FormatFloat("\"R$ \"#,##0.00", 1500), "R$ 1.500,00");
    EXPECT_EQ(FormatFloat("0.00 %", 12.5), "12,50 %");
    EXPECT_EQ(FormatFloat("#,##0.00;(#,##0.00);zero", -5), "(5,00)");
    EXPECT_EQ(FormatFloat("#,##0.00;(#,##0.00);zero", 0.001), "zero");
    EXPECT_EQ(FormatFloat("0.00", std::numeric_limits<double>::infinity()), "INF");
}

TEST_F(SysUtils, FormatFloatFollowsSettings) {
    FormatSettings().DecimalSeparator = '.';
    FormatSettings().ThousandSeparator = ',';
    EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1,234,567.89");
}

TEST_F(SysUtils, TrimAndCase) {
    EXPECT_EQ(Trim("\t a b \r\n"), "a b");
    EXPECT_EQ(TrimLeft("  x "), "x ");
    EXPECT_EQ(TrimRight("  x "), "  x");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(UpperCase("ação é ÿ ÷"), "AÇÃO É ÿ ÷");
    EXPECT_EQ(LowerCase("JOÃO ÀS × Z"), "joão às × z");
    EXPECT_TRUE(SameText("Sérgio", "SÉRGIO"));
}
