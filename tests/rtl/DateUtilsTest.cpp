#include "rtl/DateUtils.h"

#include <gtest/gtest.h>

namespace {
class DateUtils : public ::testing::Test {
protected:
    void TearDown() override {
        SetTodayOverride(std::nullopt);
        FormatSettings() = TFormatSettings();
    }
};

struct Ymd {
    int y, m, d;
};

Ymd Decode(TDateTime dt) {
    Ymd r{};
    DecodeDate(dt, r.y, r.m, r.d);
    return r;
}

String DateError(const String& text) {
    try {
        StrToDate(text);
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return "<no error>";
}
} // namespace

TEST_F(DateUtils, EpochAndKnownSerials) {
    EXPECT_EQ(EncodeDate(1899, 12, 30).Val, 0);
    EXPECT_EQ(EncodeDate(1899, 12, 31).Val, 1);
    EXPECT_EQ(EncodeDate(1899, 12, 29).Val, -1);
    EXPECT_EQ(EncodeDate(1900, 3, 1).Val, 61); // 1900 is not a leap year
    EXPECT_EQ(EncodeDate(2000, 1, 1).Val, 36526);
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7); // Saturday
    EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 8)), 3);  // Tuesday
    EXPECT_EQ(DayOfWeek(EncodeDate(1800, 1, 5)), 1);   // Sunday, far below zero
}

TEST_F(DateUtils, EncodeDecodeRoundTripAcrossLeapRules) {
    for (int y : {1, 1600, 1700, 1899, 1900, 2000, 2024, 2100, 9999}) {
        EXPECT_EQ(IsLeapYear(y), DaysInAMonth(y, 2) == 29) << y;
        for (int m = 1; m <= 12; ++m)
            for (int d : {1, 28, DaysInAMonth(y, m)}) {
                Ymd r = Decode(EncodeDate(y, m, d));
                EXPECT_TRUE(r.y == y && r.m == m && r.d == d) << y << "-" << m << "-" << d;
            }
    }
    EXPECT_TRUE(IsLeapYear(2000) && !IsLeapYear(1900) && IsLeapYear(2024));
    EXPECT_EQ(EncodeDate(2024, 3, 1) - EncodeDate(2024, 2, 28), 2);
    EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(2026, 13, 1), EConvertError);
    EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0), EConvertError);
}

// Below zero the value stays a plain line: earlier instants are smaller numbers.
TEST_F(DateUtils, NegativeValuesAndDateOf) {
    const TDateTime morning = EncodeDate(1899, 12, 28) + EncodeTime(6, 0, 0);
    const TDateTime evening = EncodeDate(1899, 12, 28) + EncodeTime(18, 0, 0);
    EXPECT_LT(morning, evening);
    EXPECT_EQ(DateOf(evening).Val, EncodeDate(1899, 12, 28).Val);
    EXPECT_EQ(DateOf(TDateTime(-1.25)).Val, -2);
    int h, n, s, ms;
    DecodeTime(TDateTime(-1.25), h, n, s, ms);
    EXPECT_EQ(h, 18);
    EXPECT_EQ(DateOf(EncodeDate(2026, 12, 8) + EncodeTime(23, 59, 59, 999)).Val,
              EncodeDate(2026, 12, 8).Val);
    // a hair before midnight rounds to the next day in every view, never to 24:00
    const TDateTime almost = EncodeDate(2026, 12, 8) + 0.99999999999;
    DecodeTime(almost, h, n, s, ms);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(Decode(almost).d, 9);
    EXPECT_EQ(DateOf(almost).Val, EncodeDate(2026, 12, 9).Val);
}

TEST_F(DateUtils, ArithmeticKeepsTheType) {
    TDateTime d = EncodeDate(2024, 2, 28);
    static_assert(std::is_same_v<decltype(d + EncodeTime(1, 0, 0)), TDateTime>);
    static_assert(std::is_same_v<decltype(d + 1), TDateTime>);
    static_assert(std::is_same_v<decltype(d - d), double>);
    d += 2;
    EXPECT_EQ(DateToStr(d), "01/03/2024");
    EXPECT_EQ(EncodeDate(2025, 1, 1) - EncodeDate(2024, 1, 1), 366);
    EXPECT_EQ(DateToStr(1 + EncodeDate(2024, 12, 31)), "01/01/2025");
}

TEST_F(DateUtils, StrToDateForms) {
    EXPECT_EQ(StrToDate("08/12/2026").Val, EncodeDate(2026, 12, 8).Val);
    EXPECT_EQ(StrToDate(" 8/2/2026 ").Val, EncodeDate(2026, 2, 8).Val);
    EXPECT_EQ(StrToDate("29/02/2024").Val, EncodeDate(2024, 2, 29).Val);
    for (const char* bad : {"", "31/02/2026", "29/02/2023", "08-12-2026", "08/12/2026x",
                            "123/12/2026", "08/12/202", "/1/2026", "1//2026", "abc"}) {
        TDateTime out = 42;
        EXPECT_FALSE(TryStrToDate(bad, out)) << bad;
        EXPECT_EQ(out.Val, 42);
        EXPECT_EQ(DateError(bad), "'" + String(bad) + "' não é uma data válida");
    }
    FormatSettings().ShortDateFormat = "yyyy-mm-dd";
    FormatSettings().DateSeparator = '-';
    EXPECT_EQ(StrToDate("2026-12-08").Val, EncodeDate(2026, 12, 8).Val);
    EXPECT_EQ(DateToStr(EncodeDate(2026, 12, 8)), "2026-12-08");
}

TEST_F(DateUtils, TwoDigitYearsAndMissingYearFollowToday) {
    SetTodayOverride(EncodeDate(2026, 6, 15));
    EXPECT_EQ(Decode(StrToDate("1/1/26")).y, 2026);
    EXPECT_EQ(Decode(StrToDate("1/1/75")).y, 2075);
    EXPECT_EQ(Decode(StrToDate("1/1/76")).y, 1976);
    EXPECT_EQ(Decode(StrToDate("1/1/99")).y, 1999);
    EXPECT_EQ(Decode(StrToDate("1/1/00")).y, 2000);
    EXPECT_EQ(StrToDate("5/3").Val, EncodeDate(2026, 3, 5).Val);
    SetTodayOverride(EncodeDate(2090, 1, 1));
    EXPECT_EQ(Decode(StrToDate("1/1/26")).y, 2126);
}

TEST_F(DateUtils, TodayOverride) {
    const TDateTime fixed = EncodeDate(2026, 12, 8);
    SetTodayOverride(fixed + EncodeTime(10, 0, 0)); // only the day counts
    EXPECT_EQ(Date().Val, fixed.Val);
    const TDateTime now = Now();
    EXPECT_EQ(DateOf(now).Val, fixed.Val);
    SetTodayOverride(std::nullopt);
    EXPECT_FALSE(TodayOverride().has_value());
    EXPECT_LE(std::abs(TimeOf(Now()) - TimeOf(now)), 1.0 / 24) << "time of day is the real one";
    EXPECT_EQ(DateOf(Now()).Val, Date().Val);
}

TEST_F(DateUtils, TextForms) {
    const TDateTime dt = EncodeDate(2026, 12, 8) + EncodeTime(14, 5, 0);
    EXPECT_EQ(DateToStr(dt), "08/12/2026");
    EXPECT_EQ(DateTimeToStr(dt), "08/12/2026 14:05:00");
    EXPECT_EQ(DateTimeToStr(DateOf(dt)), "08/12/2026");
    EXPECT_EQ(FormatDateTime("dddd, d 'de' mmmm 'de' yyyy", dt),
              "terça-feira, 8 de dezembro de 2026");
    EXPECT_EQ(FormatDateTime("ddd dd/mmm/yy", EncodeDate(2027, 3, 6)), "sáb 06/mar/27");
    EXPECT_EQ(FormatDateTime("hh:mm", dt), "14:05"); // minutes after an hour
    EXPECT_EQ(FormatDateTime("h:n:s.zzz", dt + EncodeTime(0, 0, 3, 7)), "14:5:3.007");
    FormatSettings().DateSeparator = '.';
    EXPECT_EQ(FormatDateTime("dd/mm/yyyy", dt), "08.12.2026");
    EXPECT_EQ(FormatDateTime("dd\"/\"mm", dt), "08/12");
}

TEST_F(DateUtils, IsoRoundTrip) {
    const TDateTime dt = EncodeDate(2026, 12, 8) + EncodeTime(14, 5, 0);
    EXPECT_EQ(DateToISO(dt), "2026-12-08");
    EXPECT_EQ(DateTimeToISO(dt), "2026-12-08T14:05:00");
    EXPECT_EQ(DateTimeToISO(DateOf(dt)), "2026-12-08");
    EXPECT_EQ(DateTimeToISOFull(DateOf(dt)), "2026-12-08T00:00:00");
    EXPECT_EQ(ISOToDateTime("2026-12-08T14:05:00").Val, dt.Val);
    EXPECT_EQ(ISOToDateTime("2026-12-08 14:05:00").Val, dt.Val);
    EXPECT_EQ(ISOToDateTime("2026-12-08").Val, DateOf(dt).Val);
    for (TDateTime v : {TDateTime(EncodeDate(1850, 7, 1) + EncodeTime(23, 59, 59, 999)),
                        TDateTime(EncodeDate(9999, 12, 31) + EncodeTime(0, 0, 0, 1))})
        EXPECT_EQ(DateTimeToISO(ISOToDateTime(DateTimeToISO(v))), DateTimeToISO(v));
    for (const char* bad : {"2026-02-30", "2026-12-8", "2026-12-08T25:00:00", "08/12/2026",
                            "2026-12-08T14:05:00Z", "2026-12-08T1:05"})
        EXPECT_THROW(ISOToDateTime(bad), EConvertError) << bad;
}
