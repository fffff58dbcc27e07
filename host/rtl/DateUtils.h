#pragma once
// TDateTime: days since 1899-12-30, time of day as the fraction.
// The value is a plain line: v = day + time with day = floor(v), so -1.25 is 1899-12-28 18:00
// and comparisons and arithmetic hold for dates before 1899 too.

#include "rtl/SysUtils.h"

#include <optional>
#include <type_traits>

struct TDateTime {
    double Val = 0;
    TDateTime() = default;
    TDateTime(double v) : Val(v) {}
    operator double() const { return Val; }
    TDateTime& operator+=(double days) { return Val += days, *this; }
    TDateTime& operator-=(double days) { return Val -= days, *this; }
};

// Date plus time or days stays a TDateTime, so Variant(date + time) is a date and not a double.
template <class T>
requires std::is_arithmetic_v<T> TDateTime operator+(TDateTime a, T days) {
    return a.Val + static_cast<double>(days);
}
template <class T>
requires std::is_arithmetic_v<T> TDateTime operator+(T days, TDateTime a) {
    return a.Val + static_cast<double>(days);
}
template <class T>
requires std::is_arithmetic_v<T> TDateTime operator-(TDateTime a, T days) {
    return a.Val - static_cast<double>(days);
}
inline TDateTime operator+(TDateTime a, TDateTime b) {
    return a.Val + b.Val;
}
inline double operator-(TDateTime a, TDateTime b) {
    return a.Val - b.Val;
} // days between

constexpr int64_t MSecsPerDay = 86400000;

TDateTime EncodeDate(int y, int m, int d); // EConvertError when invalid
TDateTime EncodeTime(int h, int n, int s, int ms = 0);
bool TryEncodeDate(int y, int m, int d, TDateTime& out);
bool TryEncodeTime(int h, int n, int s, int ms, TDateTime& out);
void DecodeDate(TDateTime dt, int& y, int& m, int& d);
void DecodeTime(TDateTime dt, int& h, int& n, int& s, int& ms);
void DecodeDateTime(TDateTime dt, int& y, int& m, int& d, int& h, int& n, int& s, int& ms);
bool IsLeapYear(int y);
int DaysInAMonth(int y, int m);

TDateTime DateOf(TDateTime dt); // the start of its day
TDateTime TimeOf(TDateTime dt); // the fraction of the day, 0 <= t < 1
int DayOfWeek(TDateTime dt);    // 1 = Sunday .. 7 = Saturday

// The workstation's date and time, unless the host fixed the day (--today).
TDateTime Date();
TDateTime Now(); // with an override: that day + the current time of day
void SetTodayOverride(std::optional<TDateTime> day);
std::optional<TDateTime> TodayOverride();

// Order of day, month and year from ShortDateFormat; accepts d/m/yyyy, 2-digit years
// (the one within 50 years of today) and d/m (current year).
TDateTime StrToDate(const String& s);
bool TryStrToDate(const String& s, TDateTime& out);
// Date, optionally followed by hh:nn[:ss].
TDateTime StrToDateTime(const String& s);
bool TryStrToDateTime(const String& s, TDateTime& out);
TDateTime StrToTime(const String& s);
bool TryStrToTime(const String& s, TDateTime& out);

String DateToStr(TDateTime dt);     // "08/12/2026"
String TimeToStr(TDateTime dt);     // "14:05:00"
String DateTimeToStr(TDateTime dt); // "08/12/2026 14:05:00"; the time omitted when zero
// d dd ddd dddd ddddd m mm mmm mmmm yy yyyy h hh n nn s ss z zzz t tt c, '/' ':' become the
// separators, '...' and "..." are literals. Names are Portuguese. "m" right after an hour is
// minutes.
String FormatDateTime(const String& fmt, TDateTime dt);

String DateToISO(TDateTime dt); // "2026-12-08"
String
DateTimeToISO(TDateTime dt); // "2026-12-08T14:05:00" (".123" when there are ms); date only at 00:00
String DateTimeToISOFull(TDateTime dt); // always with the time: "2026-12-08T00:00:00"
// "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff]]", "YYYY-MM-DDTHH:MM[:SS[.fff]]"; EConvertError.
TDateTime ISOToDateTime(const String& s);
bool TryISOToDateTime(const String& s, TDateTime& out);
