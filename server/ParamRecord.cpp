#include "ParamRecord.h"

#include "host/rtl/Utf8.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

constexpr FieldKind T = FieldKind::Text;
constexpr FieldKind N = FieldKind::Number;
constexpr FieldKind D = FieldKind::Date;

const std::array<ParamField, kParamFieldCount> kFields = {{
    {"CDFORNECED", T, 21, true, false},     {"NRDIASBLOQNFFOR", N, 0, true, false},
    {"IDFORNEHOMO", T, 1, false, false},    {"IDBLQNFRELAFOAF", T, 1, true, true},
    {"IDOBRIMPXMLNF", T, 1, true, true},    {"IDOBRCHAVACESFO", T, 1, true, true},
    {"IDVERINSFORCHNFE", T, 1, true, true}, {"IDSIMPLESNACIONAL", T, 1, true, true},
    {"IMPVENCXML", T, 1, true, true},       {"IDREACONSIMPXML", T, 1, true, true},
    {"IDBLOQALTPRODREL", T, 1, true, true}, {"IDPROCNOTADEBCRE", T, 1, true, true},
    {"IDUTPRIGXML", T, 1, true, true},      {"VRMAXPERMFORN", N, 0, true, false},
    {"CDGRPERMLANMAX", T, 2, true, false},  {"DSGRUPOPER", T, 30, false, false},
    {"IDREACONFVRNF", T, 1, true, true},    {"IDUTDESCITBCST", T, 1, true, true},
    {"IDCFOPCTEXML", T, 1, true, true},     {"IDIMPVENCXMLCTE", T, 1, true, true},
    {"IDNGRAVARELAC", T, 1, true, true},    {"DTREACONSIMPXML", D, 0, true, false},
    {"QTREPETEPRODNF", N, 0, true, false},  {"CDPRODCONSREPE", T, 255, true, false},
}};

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

bool Digits(std::string_view s, size_t pos, size_t n, int& out) {
    if (pos + n > s.size()) return false;
    out = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

} // namespace

const std::array<ParamField, kParamFieldCount>& ParamFields() {
    return kFields;
}

int ParamFieldIndex(std::string_view name) {
    for (int i = 0; i < kParamFieldCount; ++i)
        if (name == kFields[i].name) return i;
    return -1;
}

nlohmann::json PacketFields() {
    nlohmann::json fields = nlohmann::json::array();
    for (const ParamField& f : kFields) {
        nlohmann::json m = {{"name", f.name}};
        switch (f.kind) {
        case FieldKind::Text:
            m["type"] = "string";
            m["size"] = f.size;
            break;
        case FieldKind::Number:
            m["type"] = "float";
            break;
        case FieldKind::Date:
            m["type"] = "datetime";
            break;
        }
        fields.push_back(std::move(m));
    }
    return fields;
}

ParamRow DefaultParamRow(const std::string& code, const nlohmann::json& idForneHomo) {
    ParamRow row;
    for (int i = 0; i < kParamFieldCount; ++i)
        row[i] = kFields[i].flag ? nlohmann::json("N") : nlohmann::json();
    row[kCdForneced] = code;
    row[kIdForneHomo] = idForneHomo;
    row[kCdProdCons] = "";
    return row;
}

bool EmptyMeansNull(int field) {
    return kFields[field].kind == FieldKind::Text;
}

nlohmann::json Normalized(int field, const nlohmann::json& value) {
    if (value.is_string()) {
        const std::string& s = value.get_ref<const std::string&>();
        if (s.find_first_not_of(' ') == std::string::npos) return nullptr;
        if (kFields[field].kind == FieldKind::Date)
            if (auto day = StoredDay(s)) return *day;
    }
    if (value.is_number()) return value.get<double>(); // 30 and 30.0 compare equal
    return value;
}

bool Unreadable(int field, const nlohmann::json& value) {
    if (kFields[field].kind == FieldKind::Text)
        return value.is_string() && Utf8Length(value.get_ref<const std::string&>()) >
                                        static_cast<size_t>(kFields[field].size);
    const nlohmann::json n = Normalized(field, value);
    return n.is_string() &&
           (kFields[field].kind == FieldKind::Number || !ParseIsoDateTime(n.get<std::string>()));
}

std::optional<IsoDateTime> ParseIsoDateTime(std::string_view s) {
    IsoDateTime d{0, 0, 0, 0, 0, 0};
    if (s.size() != 10 && s.size() != 19) return std::nullopt;
    if (!Digits(s, 0, 4, d.year) || s[4] != '-' || !Digits(s, 5, 2, d.month) || s[7] != '-' ||
        !Digits(s, 8, 2, d.day))
        return std::nullopt;
    if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1 ||
        d.day > DaysInMonth(d.year, d.month))
        return std::nullopt;
    if (s.size() == 19) {
        if ((s[10] != 'T' && s[10] != ' ') || !Digits(s, 11, 2, d.hour) || s[13] != ':' ||
            !Digits(s, 14, 2, d.minute) || s[16] != ':' || !Digits(s, 17, 2, d.second))
            return std::nullopt;
        if (d.hour > 23 || d.minute > 59 || d.second > 59) return std::nullopt;
    }
    return d;
}

std::optional<std::string> StoredDay(std::string_view text) {
    const auto iso = [](int y, int m, int d) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
        return std::string(buf);
    };
    int y = 0, m = 0, d = 0;
    const bool isoForm = text.size() >= 10 && Digits(text, 0, 4, y) && text[4] == '-' &&
                         Digits(text, 5, 2, m) && text[7] == '-' && Digits(text, 8, 2, d);
    const bool ddmmyyyy = !isoForm && text.size() >= 10 && Digits(text, 0, 2, d) &&
                          text[2] == '/' && Digits(text, 3, 2, m) && text[5] == '/' &&
                          Digits(text, 6, 4, y);
    if (!isoForm && !ddmmyyyy) return std::nullopt;
    if (y < 1 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return std::nullopt;
    const std::string_view time = text.substr(10);
    if (time.empty()) return iso(y, m, d);
    // A time of day: hh:mm, then :ss, then a fraction, each optional.
    int hh = 0, mm = 0, ss = 0;
    if ((time[0] != 'T' && time[0] != ' ') || !Digits(time, 1, 2, hh) || time.size() < 6 ||
        time[3] != ':' || !Digits(time, 4, 2, mm) || hh > 23 || mm > 59)
        return std::nullopt;
    std::string_view rest = time.substr(6);
    if (!rest.empty()) {
        if (rest[0] != ':' || !Digits(rest, 1, 2, ss) || ss > 59) return std::nullopt;
        rest = rest.substr(3);
        if (!rest.empty()) {
            if (rest[0] != '.' || rest.size() < 2) return std::nullopt;
            for (char c : rest.substr(1))
                if (c < '0' || c > '9') return std::nullopt;
        }
    }
    return iso(y, m, d);
}

nlohmann::json PacketDate(const std::string& stored) {
    if (stored.find_first_not_of(' ') == std::string::npos) return nullptr;
    if (auto day = StoredDay(stored)) return *day;
    return stored; // unreadable: sent as it stands, and so kept
}

nlohmann::json PacketNumber(double value) {
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 9.0e15)
        return static_cast<std::int64_t>(value);
    return value;
}

std::optional<std::string> LogText(const nlohmann::json& value) {
    if (value.is_null()) return std::nullopt;
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number()) {
        const double v = value.get<double>();
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, v);
        return std::string(buf, r.ptr);
    }
    return value.dump();
}

size_t ControlCharacterPosition(std::string_view text) {
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80) ++n;
        if (c < 0x20 || c == 0x7F) return n;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F)
            return n;
    }
    return 0;
}

bool ValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}
