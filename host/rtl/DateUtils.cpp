#include "rtl/DateUtils.h"

#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace {
// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

const int64_t kEpoch = DaysFromCivil(1899, 12, 30);

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Rounded to the millisecond first, so 23:59:59.9999 carries into the next day consistently
// in DateOf, DecodeDate and DecodeTime.
void Split(TDateTime dt, int64_t& day, int64_t& msOfDay) {
    const int64_t total = std::llround(dt.Val * static_cast<double>(MSecsPerDay));
    day = FloorDiv(total, MSecsPerDay);
    msOfDay = total - day * MSecsPerDay;
}

String Pad(int64_t v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", width, static_cast<long long>(v));
    return buf;
}

String DateText(int y, int m, int d) {
    return Pad(d, 2) + "/" + Pad(m, 2) + "/" + Pad(y, 4);
}

std::mutex g_todayMutex;
std::optional<TDateTime> g_today;
} // namespace

bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInAMonth(int y, int m) {
    static constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12) return 0;
    return m == 2 && IsLeapYear(y) ? 29 : days[static_cast<size_t>(m - 1)];
}

bool TryEncodeDate(int y, int m, int d, TDateTime& out) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInAMonth(y, m)) return false;
    out = static_cast<double>(DaysFromCivil(y, m, d) - kEpoch);
    return true;
}

TDateTime EncodeDate(int y, int m, int d) {
    TDateTime r;
    if (!TryEncodeDate(y, m, d, r))
        throw EConvertError("'" + DateText(y, m, d) + "' não é uma data válida");
    return r;
}

bool TryEncodeTime(int h, int n, int s, int ms, TDateTime& out) {
    if (h < 0 || h > 23 || n < 0 || n > 59 || s < 0 || s > 59 || ms < 0 || ms > 999) return false;
    out =
        static_cast<double>(((h * 60 + n) * 60 + s) * 1000 + ms) / static_cast<double>(MSecsPerDay);
    return true;
}

TDateTime EncodeTime(int h, int n, int s, int ms) {
    TDateTime r;
    if (!TryEncodeTime(h, n, s, ms, r))
        throw EConvertError("'" + Pad(h, 2) + ":" + Pad(n, 2) + ":" + Pad(s, 2) + "." + Pad(ms, 3) +
                            "' não é um horário válido");
    return r;
}

void DecodeDate(TDateTime dt, int& y, int& m, int& d) {
    int64_t day, ms;
    Split(dt, day, ms);
    CivilFromDays(day + kEpoch, y, m, d);
}

void DecodeTime(TDateTime dt, int& h, int& n, int& s, int& ms) {
    int64_t day, t;
    Split(dt, day, t);
    ms = static_cast<int>(t % 1000);
    t /= 1000;
    s = static_cast<int>(t % 60);
    t /= 60;
    n = static_cast<int>(t % 60);
    h = static_cast<int>(t / 60);
}

void DecodeDateTime(TDateTime dt, int& y, int& m, int& d, int& h, int& n, int& s, int& ms) {
    DecodeDate(dt, y, m, d);
    DecodeTime(dt, h, n, s, ms);
}

TDateTime DateOf(TDateTime dt) {
    int64_t day, ms;
    Split(dt, day, ms);
    return static_cast<double>(day);
}

TDateTime TimeOf(TDateTime dt) {
    int64_t day, ms;
    Split(dt, day, ms);
    return static_cast<double>(ms) / static_cast<double>(MSecsPerDay);
}

int DayOfWeek(TDateTime dt) {
    int64_t day, ms;
    Split(dt, day, ms);
    return static_cast<int>(day + 6 - FloorDiv(day + 6, 7) * 7) + 1; // day 0 was a Saturday
}

// ---------------------------------------------------------------- clock

namespace {
TDateTime LocalNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    const int ms =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return EncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
           EncodeTime(tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59), ms < 0 ? 0 : ms);
}
} // namespace

void SetTodayOverride(std::optional<TDateTime> day) {
    std::lock_guard lock(g_todayMutex);
    g_today = day ? std::optional<TDateTime>(DateOf(*day)) : std::nullopt;
}

std::optional<TDateTime> TodayOverride() {
    std::lock_guard lock(g_todayMutex);
    return g_today;
}

TDateTime Now() {
    const TDateTime now = LocalNow();
    if (auto day = TodayOverride()) return day->Val + TimeOf(now).Val;
    return now;
}

TDateTime Date() {
    if (auto day = TodayOverride()) return *day;
    return DateOf(LocalNow());
}

// ---------------------------------------------------------------- parsing

namespace {
// Reads up to `maxDigits` digits; returns the count read.
int ReadNumber(const String& s, size_t& i, int maxDigits, int& value) {
    int n = 0;
    value = 0;
    while (i < s.size() && n < maxDigits && std::isdigit(static_cast<unsigned char>(s[i]))) {
        value = value * 10 + (s[i] - '0');
        ++i;
        ++n;
    }
    return n;
}

// Order of the date parts in ShortDateFormat, e.g. "dmy".
String DateOrder() {
    String order;
    for (char c : LowerCase(FormatSettings().ShortDateFormat))
        if ((c == 'd' || c == 'm' || c == 'y') && order.find(c) == String::npos) order += c;
    return order.size() == 3 ? order : "dmy";
}

// Parses a date at s[i..]; leaves i after it.
bool ParseDate(const String& s, size_t& i, TDateTime& out) {
    const char sep = FormatSettings().DateSeparator;
    int v[3] = {0, 0, 0};
    int len[3] = {0, 0, 0};
    int parts = 0;
    while (parts < 3) {
        len[parts] = ReadNumber(s, i, 4, v[parts]);
        if (len[parts] == 0) return false;
        ++parts;
        if (parts < 3 && i < s.size() && s[i] == sep)
            ++i;
        else
            break;
    }
    if (parts < 2) return false;
    const String order = DateOrder();
    int y = 0, m = 0, d = 0, ylen = 0;
    int currentYear, cm, cd;
    DecodeDate(Date(), currentYear, cm, cd);
    if (parts == 2) { // day and month: the current year
        int k = 0;
        for (char c : order) {
            if (c == 'y') continue;
            (c == 'd' ? d : m) = v[k++];
        }
        y = currentYear;
        ylen = 4;
    } else {
        for (int k = 0; k < 3; ++k) {
            char c = order[static_cast<size_t>(k)];
            if (c == 'd') d = v[k];
            if (c == 'm') m = v[k];
            if (c == 'y') y = v[k], ylen = len[k];
        }
        if (ylen == 3) return false;
    }
    for (int k = 0; k < parts; ++k)
        if (len[k] > 2 && (parts == 2 || order[static_cast<size_t>(k)] != 'y')) return false;
    if (ylen <= 2) {
        // the year within 50 years of the current one
        const int window = currentYear - 50;
        y += window / 100 * 100;
        if (y < window) y += 100;
    }
    return TryEncodeDate(y, m, d, out);
}

// hh:nn[:ss[.zzz]] at s[i..].
bool ParseTime(const String& s, size_t& i, char sep, TDateTime& out) {
    int h = 0, n = 0, sec = 0, ms = 0;
    if (ReadNumber(s, i, 2, h) == 0 || i >= s.size() || s[i] != sep) return false;
    ++i;
    if (ReadNumber(s, i, 2, n) != 2) return false;
    if (i < s.size() && s[i] == sep) {
        ++i;
        if (ReadNumber(s, i, 2, sec) != 2) return false;
        if (i < s.size() && s[i] == '.') {
            ++i;
            int digits = ReadNumber(s, i, 3, ms);
            if (digits == 0) return false;
            for (; digits < 3; ++digits)
                ms *= 10;
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
                ++i;
        }
    }
    return TryEncodeTime(h, n, sec, ms, out);
}

TDateTime Combine(TDateTime date, TDateTime time) {
    return date.Val + time.Val;
}
} // namespace

bool TryStrToDate(const String& s, TDateTime& out) {
    const String t = Trim(s);
    size_t i = 0;
    TDateTime d;
    if (!ParseDate(t, i, d) || i != t.size()) return false;
    out = d;
    return true;
}

TDateTime StrToDate(const String& s) {
    TDateTime r;
    if (!TryStrToDate(s, r)) throw EConvertError("'" + s + "' não é uma data válida");
    return r;
}

bool TryStrToTime(const String& s, TDateTime& out) {
    const String t = Trim(s);
    size_t i = 0;
    TDateTime r;
    if (!ParseTime(t, i, FormatSettings().TimeSeparator, r) || i != t.size()) return false;
    out = r;
    return true;
}

TDateTime StrToTime(const String& s) {
    TDateTime r;
    if (!TryStrToTime(s, r)) throw EConvertError("'" + s + "' não é um horário válido");
    return r;
}

bool TryStrToDateTime(const String& s, TDateTime& out) {
    const String t = Trim(s);
    size_t i = 0;
    TDateTime d, tm;
    if (!ParseDate(t, i, d)) return false;
    if (i < t.size()) {
        if (t[i] != ' ') return false;
        while (i < t.size() && t[i] == ' ')
            ++i;
        if (!ParseTime(t, i, FormatSettings().TimeSeparator, tm) || i != t.size()) return false;
    }
    out = Combine(d, tm);
    return true;
}

TDateTime StrToDateTime(const String& s) {
    TDateTime r;
    if (!TryStrToDateTime(s, r)) throw EConvertError("'" + s + "' não é uma data válida");
    return r;
}

bool TryISOToDateTime(const String& s, TDateTime& out) {
    const String t = Trim(s);
    size_t i = 0;
    int y = 0, m = 0, d = 0;
    if (ReadNumber(t, i, 4, y) != 4 || i >= t.size() || t[i++] != '-') return false;
    if (ReadNumber(t, i, 2, m) != 2 || i >= t.size() || t[i++] != '-') return false;
    if (ReadNumber(t, i, 2, d) != 2) return false;
    TDateTime date, time;
    if (!TryEncodeDate(y, m, d, date)) return false;
    if (i < t.size()) {
        if (t[i] != 'T' && t[i] != ' ') return false;
        ++i;
        size_t start = i;
        if (!ParseTime(t, i, ':', time) || i != t.size() || i - start < 5) return false;
        if (t[start + 2] != ':') return false; // two-digit hours
    }
    out = Combine(date, time);
    return true;
}

TDateTime ISOToDateTime(const String& s) {
    TDateTime r;
    if (!TryISOToDateTime(s, r)) throw EConvertError("'" + s + "' não é uma data ISO válida");
    return r;
}

// ---------------------------------------------------------------- formatting

namespace {
const std::array<const char*, 12> kMonthShort{"jan", "fev", "mar", "abr", "mai", "jun",
                                              "jul", "ago", "set", "out", "nov", "dez"};
const std::array<const char*, 12> kMonthLong{"janeiro",  "fevereiro", "março",    "abril",
                                             "maio",     "junho",     "julho",    "agosto",
                                             "setembro", "outubro",   "novembro", "dezembro"};
const std::array<const char*, 7> kDayShort{"dom", "seg", "ter", "qua", "qui", "sex", "sáb"};
const std::array<const char*, 7> kDayLong{"domingo",      "segunda-feira", "terça-feira",
                                          "quarta-feira", "quinta-feira",  "sexta-feira",
                                          "sábado"};

size_t RunLength(const String& f, size_t i) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(f[i])));
    size_t n = 0;
    while (i + n < f.size() && std::tolower(static_cast<unsigned char>(f[i + n])) == c)
        ++n;
    return n;
}

void FormatInto(String& out, const String& f, TDateTime dt, int depth) {
    const TFormatSettings& fs = FormatSettings();
    int y, m, d, h, n, s, ms;
    DecodeDateTime(dt, y, m, d, h, n, s, ms);
    bool lastWasHour = false;
    for (size_t i = 0; i < f.size();) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(f[i])));
        size_t run = RunLength(f, i);
        bool hour = false;
        switch (c) {
        case '\'':
        case '"': {
            size_t end = f.find(f[i], i + 1);
            if (end == String::npos) end = f.size();
            out += f.substr(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        case '/':
            out += fs.DateSeparator, run = 1;
            break;
        case ':':
            out += fs.TimeSeparator, run = 1;
            break;
        case 'd':
            if (run >= 5 && depth == 0) {
                run = std::min<size_t>(run, 5);
                FormatInto(out, fs.ShortDateFormat, dt, depth + 1);
            } else if (run >= 4) {
                run = 4;
                out += kDayLong[static_cast<size_t>(DayOfWeek(dt) - 1)];
            } else if (run == 3) {
                out += kDayShort[static_cast<size_t>(DayOfWeek(dt) - 1)];
            } else {
                out += Pad(d, static_cast<int>(run));
            }
            break;
        case 'm':
            if (lastWasHour && run <= 2) { // "hh:mm" means minutes
                out += Pad(n, static_cast<int>(run));
            } else if (run >= 4) {
                run = 4;
                out += kMonthLong[static_cast<size_t>(m - 1)];
            } else if (run == 3) {
                out += kMonthShort[static_cast<size_t>(m - 1)];
            } else {
                out += Pad(m, static_cast<int>(run));
            }
            break;
        case 'y':
            if (run <= 2)
                out += Pad(((y % 100) + 100) % 100, 2);
            else
                out += Pad(y, 4), run = std::min<size_t>(run, 4);
            break;
        case 'h':
            run = std::min<size_t>(run, 2);
            out += Pad(h, static_cast<int>(run));
            hour = true;
            break;
        case 'n':
            run = std::min<size_t>(run, 2), out += Pad(n, static_cast<int>(run));
            break;
        case 's':
            run = std::min<size_t>(run, 2), out += Pad(s, static_cast<int>(run));
            break;
        case 'z':
            run = run >= 3 ? 3 : 1, out += Pad(ms, static_cast<int>(run));
            break;
        case 't':
            run = std::min<size_t>(run, 2);
            if (depth == 0)
                FormatInto(out, run == 2 ? fs.LongTimeFormat : fs.ShortTimeFormat, dt, depth + 1);
            break;
        case 'c':
            run = 1;
            if (depth == 0) {
                FormatInto(out, fs.ShortDateFormat, dt, depth + 1);
                if (TimeOf(dt).Val != 0) {
                    out += ' ';
                    FormatInto(out, fs.LongTimeFormat, dt, depth + 1);
                }
            }
            break;
        default:
            out += f[i], run = 1;
            break;
        }
        // a separator or blank between hour and "mm" keeps the minutes reading
        if (hour)
            lastWasHour = true;
        else if (c == 'm' || std::isalpha(static_cast<unsigned char>(c)))
            lastWasHour = false;
        i += run;
    }
}
} // namespace

String FormatDateTime(const String& fmt, TDateTime dt) {
    String out;
    FormatInto(out, fmt.empty() ? String("c") : fmt, dt, 0);
    return out;
}

String DateToStr(TDateTime dt) {
    return FormatDateTime(FormatSettings().ShortDateFormat, dt);
}
String TimeToStr(TDateTime dt) {
    return FormatDateTime(FormatSettings().LongTimeFormat, dt);
}
String DateTimeToStr(TDateTime dt) {
    return FormatDateTime("c", dt);
}

String DateToISO(TDateTime dt) {
    int y, m, d;
    DecodeDate(dt, y, m, d);
    return Pad(y, 4) + "-" + Pad(m, 2) + "-" + Pad(d, 2);
}

String DateTimeToISOFull(TDateTime dt) {
    int h, n, s, ms;
    DecodeTime(dt, h, n, s, ms);
    String r = DateToISO(dt) + "T" + Pad(h, 2) + ":" + Pad(n, 2) + ":" + Pad(s, 2);
    if (ms != 0) { // keeps Now() exact across the wire
        r += '.';
        r += Pad(ms, 3);
    }
    return r;
}

String DateTimeToISO(TDateTime dt) {
    if (TimeOf(dt).Val == 0) return DateToISO(dt);
    return DateTimeToISOFull(dt);
}
