#include "rtl/SysUtils.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

Exception::Exception(String message) : message_(std::move(message)) {}

EAbort::EAbort() : Exception("Operação cancelada") {}

void Abort() {
    throw EAbort();
}

TFormatSettings& FormatSettings() {
    static TFormatSettings settings;
    return settings;
}

// ---------------------------------------------------------------- text

namespace {
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}
} // namespace

String TrimLeft(const String& s) {
    size_t b = 0;
    while (b < s.size() && IsBlank(s[b]))
        ++b;
    return s.substr(b);
}

String TrimRight(const String& s) {
    size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1]))
        --e;
    return s.substr(0, e);
}

String Trim(const String& s) {
    return TrimLeft(TrimRight(s));
}

namespace {
// Latin-1 letters are two bytes in UTF-8: C3 80..9E upper, C3 A0..BE lower (0x20 apart),
// except × (C3 97) and ÷ (C3 B7), which are not letters.
String ChangeCase(const String& s, bool upper) {
    String r = s;
    for (size_t i = 0; i < r.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(r[i]);
        if (c < 0x80) {
            if (upper && c >= 'a' && c <= 'z') r[i] = static_cast<char>(c - 32);
            if (!upper && c >= 'A' && c <= 'Z') r[i] = static_cast<char>(c + 32);
        } else if (c == 0xC3 && i + 1 < r.size()) {
            unsigned char d = static_cast<unsigned char>(r[i + 1]);
            if (upper && d >= 0xA0 && d <= 0xBE && d != 0xB7)
                r[i + 1] = static_cast<char>(d - 0x20);
            else if (!upper && d >= 0x80 && d <= 0x9E && d != 0x97)
                r[i + 1] = static_cast<char>(d + 0x20);
            ++i;
        }
    }
    return r;
}
} // namespace

String UpperCase(const String& s) {
    return ChangeCase(s, true);
}
String LowerCase(const String& s) {
    return ChangeCase(s, false);
}
bool SameText(const String& a, const String& b) {
    return UpperCase(a) == UpperCase(b);
}

// ---------------------------------------------------------------- integers

bool TryStrToInt64(const String& s, int64_t& out) {
    String t = Trim(s);
    const char* b = t.data();
    const char* e = b + t.size();
    if (b != e && *b == '+') ++b; // from_chars takes '-' but not '+'
    if (b == e || (*b == '-' && t[0] == '+')) return false;
    int64_t v = 0;
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || p != e) return false;
    out = v;
    return true;
}

bool TryStrToInt(const String& s, int& out) {
    int64_t v = 0;
    if (!TryStrToInt64(s, v) || v < std::numeric_limits<int>::min() ||
        v > std::numeric_limits<int>::max())
        return false;
    out = static_cast<int>(v);
    return true;
}

int64_t StrToInt64(const String& s) {
    int64_t v = 0;
    if (!TryStrToInt64(s, v)) throw EConvertError("'" + s + "' não é um valor inteiro válido");
    return v;
}

int StrToInt(const String& s) {
    int v = 0;
    if (!TryStrToInt(s, v)) throw EConvertError("'" + s + "' não é um valor inteiro válido");
    return v;
}

String IntToStr(int64_t v) {
    return std::to_string(v);
}

// ---------------------------------------------------------------- floats

// Only the configured decimal separator is a decimal point. "1.5" is refused under the
// Brazilian settings: the dot is the thousands separator there, and reading it as a decimal
// point would turn a typed "1.500" (one thousand five hundred) into 1.5.
bool TryStrToFloat(const String& s, double& out) {
    const char sep = FormatSettings().DecimalSeparator;
    String t = Trim(s);
    String c; // canonical text for from_chars
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        if (t[i] == '-') c += '-';
        ++i;
    }
    size_t digits = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
        c += t[i++], ++digits;
    if (i < t.size() && t[i] == sep) {
        c += '.';
        ++i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
            c += t[i++], ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        c += 'e';
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) c += t[i++];
        size_t expDigits = 0;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
            c += t[i++], ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != t.size()) return false;
    double v = 0;
    auto [p, ec] = std::from_chars(c.data(), c.data() + c.size(), v);
    if (ec != std::errc() || p != c.data() + c.size() || !std::isfinite(v)) return false;
    out = v;
    return true;
}

double StrToFloat(const String& s) {
    double v = 0;
    if (!TryStrToFloat(s, v)) throw EConvertError("'" + s + "' não é um valor numérico válido");
    return v;
}

namespace {
String NonFinite(double v) {
    if (std::isnan(v)) return "NAN";
    return v < 0 ? "-INF" : "INF";
}
} // namespace

// 15 significant digits, as the user typed it: 0.1 + 0.2 shows "0,3", not 0,30000000000000004.
String FloatToStr(double v) {
    if (!std::isfinite(v)) return NonFinite(v);
    if (v == 0) return "0"; // also -0
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    String s = buf;
    String mant = s, exp;
    if (auto e = s.find('e'); e != String::npos) {
        mant = s.substr(0, e);
        int x = std::atoi(s.c_str() + e + 1);
        exp = "E" + std::to_string(x);
    }
    if (mant.find('.') != String::npos) {
        while (mant.back() == '0')
            mant.pop_back();
        if (mant.back() == '.') mant.pop_back();
    }
    std::replace(mant.begin(), mant.end(), '.', FormatSettings().DecimalSeparator);
    return mant + exp;
}

// ---------------------------------------------------------------- FormatFloat

namespace {
struct Section {
    String prefix, suffix; // literal text around the digits
    int intZeros = 0;      // '0' placeholders before the point: the minimum integer digits
    bool thousands = false;
    bool point = false;
    int decZeros = 0; // decimals always shown
    int decMax = 0;   // decimals shown when not zero
};

Section ParseSection(const String& f) {
    Section s;
    bool seenDigit = false, afterDigits = false;
    for (size_t i = 0; i < f.size(); ++i) {
        char c = f[i];
        if (c == '\'' || c == '"') {
            size_t end = f.find(c, i + 1);
            if (end == String::npos) end = f.size();
            String lit = f.substr(i + 1, end - i - 1);
            (seenDigit ? s.suffix : s.prefix) += lit;
            if (seenDigit) afterDigits = true;
            i = end;
            continue;
        }
        bool placeholder = (c == '0' || c == '#' || c == ',' || c == '.') && !afterDigits;
        if (!placeholder) {
            (seenDigit ? s.suffix : s.prefix) += c;
            if (seenDigit) afterDigits = true;
            continue;
        }
        if (c == '.') {
            if (s.point) { // a second point is literal text
                s.suffix += c;
                afterDigits = true;
                continue;
            }
            s.point = true;
            seenDigit = true;
        } else if (c == ',') {
            if (!s.point) s.thousands = true;
        } else {
            seenDigit = true;
            if (s.point) {
                ++s.decMax;
                if (c == '0') s.decZeros = s.decMax;
            } else if (c == '0') {
                ++s.intZeros;
            }
        }
    }
    return s;
}

std::vector<String> SplitSections(const String& f) {
    std::vector<String> out(1);
    char quote = 0;
    for (char c : f) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ';') {
            out.emplace_back();
            continue;
        }
        out.back() += c;
    }
    return out;
}

// |v| rounded half away from zero to `decimals`, in decimal: integer digits and fraction digits.
// The value is first taken to 15 significant digits, so 1.005 (stored as 1.00499999...) rounds
// the way it reads, to 1.01.
void RoundDecimal(double v, int decimals, String& intPart, String& fracPart) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(v));
    String digits;
    digits += buf[0];
    const char* p = buf + 2;
    while (*p && *p != 'e')
        digits += *p++;
    int exp = std::atoi(p + 1);
    // digits represent d.ddd × 10^exp; point sits after (exp + 1) digits
    int pointPos = exp + 1;
    if (pointPos < 0) {
        digits.insert(0, static_cast<size_t>(-pointPos), '0');
        pointPos = 0;
    }
    if (static_cast<int>(digits.size()) < pointPos + decimals)
        digits.append(static_cast<size_t>(pointPos + decimals) - digits.size(), '0');
    int keep = pointPos + decimals;
    bool up = static_cast<int>(digits.size()) > keep && digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (up) {
        int i = keep - 1;
        while (i >= 0 && digits[static_cast<size_t>(i)] == '9')
            digits[static_cast<size_t>(i--)] = '0';
        if (i >= 0)
            ++digits[static_cast<size_t>(i)];
        else {
            digits.insert(0, "1");
            ++pointPos;
        }
    }
    intPart = digits.substr(0, static_cast<size_t>(pointPos));
    fracPart = digits.substr(static_cast<size_t>(pointPos));
    size_t nz = intPart.find_first_not_of('0');
    intPart = nz == String::npos ? "" : intPart.substr(nz);
}

String Group(const String& digits, char sep) {
    String r;
    int n = static_cast<int>(digits.size());
    for (int i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) r += sep;
        r += digits[static_cast<size_t>(i)];
    }
    return r;
}

String Render(const Section& s, double v, bool& isZero) {
    String ip, fp;
    RoundDecimal(v, s.decMax, ip, fp);
    isZero = ip.empty() && fp.find_first_not_of('0') == String::npos;
    while (static_cast<int>(fp.size()) > s.decZeros && !fp.empty() && fp.back() == '0')
        fp.pop_back();
    if (static_cast<int>(ip.size()) < s.intZeros)
        ip.insert(0, static_cast<size_t>(s.intZeros) - ip.size(), '0');
    const TFormatSettings& fs = FormatSettings();
    String r = s.thousands ? Group(ip, fs.ThousandSeparator) : ip;
    if (!fp.empty()) r += fs.DecimalSeparator + fp;
    return s.prefix + r + s.suffix;
}
} // namespace

String FormatFloat(const String& format, double v) {
    if (!std::isfinite(v)) return NonFinite(v);
    if (format.empty()) return FloatToStr(v);
    std::vector<String> secs = SplitSections(format);
    Section pos = ParseSection(secs[0]);
    bool zero = false;
    if (v < 0 && secs.size() > 1 && !secs[1].empty()) {
        // the negative section carries its own sign or parentheses
        Section neg = ParseSection(secs[1]);
        String r = Render(neg, v, zero);
        if (!zero) return r;
    } else {
        String r = Render(pos, v, zero);
        // a value that rounds to zero prints without a sign: "-0,00" would be a lie
        if (!zero) return v < 0 ? "-" + r : r;
    }
    if (secs.size() > 2 && !secs[2].empty()) return Render(ParseSection(secs[2]), 0, zero);
    return Render(pos, 0, zero);
}
