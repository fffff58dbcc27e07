#include "ParamRecord.h"

#include "RpcError.h"
#include "host/rtl/Utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

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

nlohmann::json PacketFields() {
    nlohmann::json fields = nlohmann::json::array();
    for (const ParamField& f : kParamFields) {
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
        row[i] = kParamFields[i].flag ? nlohmann::json("N") : nlohmann::json();
    row[kCdForneced] = code;
    row[kIdForneHomo] = idForneHomo;
    row[kCdProdCons] = "";
    return row;
}

nlohmann::json Normalized(int field, const nlohmann::json& value) {
    if (value.is_string()) {
        const std::string& s = value.get_ref<const std::string&>();
        if (s.find_first_not_of(' ') == std::string::npos) return nullptr;
        if (kParamFields[field].kind == FieldKind::Date)
            if (auto day = StoredDay(s)) return *day;
    }
    if (value.is_number()) return value.get<double>(); // 30 and 30.0 compare equal
    return value;
}

bool Unreadable(int field, const nlohmann::json& value) {
    if (kParamFields[field].kind == FieldKind::Text)
        return value.is_string() && Utf8Length(value.get_ref<const std::string&>()) >
                                        static_cast<size_t>(kParamFields[field].size);
    const nlohmann::json n = Normalized(field, value);
    return n.is_string() && (kParamFields[field].kind == FieldKind::Number ||
                             !ParseIsoDateTime(n.get<std::string>()));
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

void RefuseControlCharacter(std::string_view where, const nlohmann::json& v, bool onlyNul,
                            std::string_view field) {
    if (!v.is_string()) return;
    const std::string& text = v.get_ref<const std::string&>();
    size_t at = 0;
    if (!onlyNul)
        at = ControlCharacterPosition(text);
    else if (const size_t nul = text.find('\0'); nul != std::string::npos)
        at = Utf8Length(std::string_view(text).substr(0, nul)) + 1;
    if (at)
        throw RpcError(kRpcRefused, std::string(where) + std::string(field) +
                                        ": o texto contém um caractere de controle na posição " +
                                        std::to_string(at) + ", o que não é aceito.");
}

namespace {

using nlohmann::json;

[[noreturn]] void Refuse(const std::string& message) {
    throw RpcError(kRpcRefused, message);
}

std::string Quoted(const json& v) {
    if (!v.is_string()) return v.dump();
    return "\"" + v.get<std::string>() + "\"";
}

// The type check shared by the original and the new values. An original date is any text, and
// an original number may be a text that reads as no number: what another program stored in a
// form of its own is sent as it stands and must come back. A number written as a text is not
// such a value (SQLite stores it as a number): the client sent the wrong type.
void CheckType(int field, const json& v, const char* which, bool original = false) {
    if (v.is_null()) return;
    const ParamField& f = kParamFields[field];
    // Named only when something is refused: a save checks every field of its row.
    const auto where = [&] { return std::string(which) + f.name; };
    if (original && f.kind == FieldKind::Date) {
        if (!v.is_string())
            Refuse(where() + ": esperado um texto de data, recebido " + v.dump() + ".");
        return;
    }
    if (original && f.kind == FieldKind::Number && v.is_string()) {
        const std::string& s = v.get_ref<const std::string&>();
        double d = 0;
        const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), d);
        if (s.empty() || error != std::errc() || end != s.data() + s.size()) return;
    }
    switch (f.kind) {
    case FieldKind::Text:
        if (!v.is_string()) Refuse(where() + ": esperado um texto, recebido " + v.dump() + ".");
        break;
    case FieldKind::Number:
        if (!v.is_number()) Refuse(where() + ": esperado um número, recebido " + v.dump() + ".");
        if (!std::isfinite(v.get<double>())) Refuse(where() + ": o número deve ser finito.");
        break;
    case FieldKind::Date:
        if (!v.is_string() || !ParseIsoDateTime(v.get<std::string>()))
            Refuse(where() + ": esperada uma data no formato AAAA-MM-DD, recebido " + v.dump() +
                   ".");
        break;
    }
}

std::string NumberText(double x) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, x);
    std::string text(buf, r.ptr);
    if (const size_t dot = text.find('.'); dot != std::string::npos) text[dot] = ',';
    return text;
}

// A number within its field's limit: from its minimum, with no more digits than the field has
// before and after the decimal comma. Whole numbers are refused by their range.
void CheckNumber(const ParamField& f, double x, const std::string& name) {
    const ParamLimits::NumberLimit& limit = f.limit;
    const double units = x * ParamLimits::NumberLimit::Pow10(limit.decimals);
    const double rounded = std::round(units);
    // A decimal fraction has no exact binary form: a few units in the last place away from a
    // whole number of cents still count as that number. A whole number needs no such allowance.
    const double slack =
        limit.decimals == 0 ? 0 : 8 * (std::nextafter(units, INFINITY) - units) + 1e-7;
    const bool fraction = std::fabs(units - rounded) > slack;
    const bool below = x < limit.minimum;
    const bool above = rounded > limit.MaximumUnits();
    if (limit.decimals == 0) {
        if (below || above || fraction)
            Refuse(name + ": " + f.what + " deve ser um número inteiro de " +
                   NumberText(limit.minimum) + " a " + NumberText(limit.Maximum()) + ".");
        return;
    }
    if (below)
        Refuse(name + ": " + f.what +
               (limit.minimum == 0 ? " não pode ser negativo."
                                   : " não pode ser menor que " + NumberText(limit.minimum) + "."));
    if (fraction)
        Refuse(name + ": " + f.what + " admite no máximo " + std::to_string(limit.decimals) +
               " casas decimais.");
    if (above)
        Refuse(name + ": " + f.what + " admite no máximo " + std::to_string(limit.integerDigits) +
               " dígitos inteiros.");
}

// The rules of one new value, by its field's description.
void CheckNewValue(int field, const json& v) {
    const ParamField& f = kParamFields[field];
    const std::string name = std::string("Campo ") + f.name;
    CheckType(field, v, "Campo ");
    RefuseControlCharacter(name, v);
    if (f.flag && !(v.is_string() && (v == "S" || v == "N")))
        Refuse(name + ": valor " + Quoted(v) + " inválido; use \"S\" ou \"N\".");
    if (v.is_null()) return;
    switch (f.kind) {
    case FieldKind::Text:
        if (const size_t n = Utf8Length(v.get_ref<const std::string&>());
            n > static_cast<size_t>(f.size))
            Refuse(name + ": o texto tem " + std::to_string(n) + " caracteres e o máximo é " +
                   std::to_string(f.size) + ".");
        break;
    case FieldKind::Number:
        CheckNumber(f, v.get<double>(), name);
        break;
    case FieldKind::Date:
        if (const auto d = ParseIsoDateTime(v.get<std::string>());
            d->hour || d->minute || d->second)
            Refuse(name + ": a data não pode conter hora (" + v.get<std::string>() + ").");
        break;
    }
}

// A date that cannot be read is no date: the user may give one in its place.
bool HasDate(const ParamRow& r) {
    return !Normalized(kDtReacons, r[kDtReacons]).is_null() &&
           !Unreadable(kDtReacons, r[kDtReacons]);
}

} // namespace

std::string StoredSupplier(const ParamRow& stored) {
    for (int id = 0; id < kParamFieldCount; ++id) {
        CheckType(id, stored[id], "Valor original do campo ", true);
        RefuseControlCharacter("Valor original do campo ", stored[id], id != kCdForneced,
                               kParamFields[id].name);
    }
    if (!stored[kCdForneced].is_string() || stored[kCdForneced].get<std::string>().empty())
        Refuse("O registro original não traz o código do fornecedor (CDFORNECED).");
    return stored[kCdForneced].get<std::string>();
}

ValidChange ValidateChange(const ParamRow& stored, const json& changes, bool daysEmpty) {
    ValidChange out;
    out.supplier = StoredSupplier(stored);
    ParamRow wanted = stored;
    for (int id = 0; id < kParamFieldCount; ++id) {
        const auto it = changes.find(kParamFields[id].name);
        if (it == changes.end()) continue;
        if (Normalized(id, *it) == Normalized(id, stored[id])) continue;
        CheckNewValue(id, *it);
        wanted[id] = *it;
    }
    for (const auto& [name, value] : changes.items())
        if (ParamFieldIndex(name) < 0)
            Refuse("Campo " + name + " não pertence ao registro de parâmetros.");

    // The record's own rules, over the whole row.
    for (int id : {kCdForneced, kIdForneHomo})
        if (Normalized(id, wanted[id]) != Normalized(id, stored[id]))
            Refuse(std::string("Campo ") + kParamFields[id].name + " não pode ser alterado.");
    // The days box shows an unreadable stored value empty: empty there is not the user's wish.
    if (daysEmpty && !Unreadable(kNrDiasBloq, stored[kNrDiasBloq])) wanted[kNrDiasBloq] = nullptr;
    const json oldDate = Normalized(kDtReacons, stored[kDtReacons]);
    if (HasDate(stored) && Normalized(kDtReacons, wanted[kDtReacons]) != oldDate)
        Refuse("Campo DTREACONSIMPXML: a data de reconsistência já gravada (" +
               oldDate.get<std::string>() + ") não pode ser alterada.");
    // The consistency option needs its start date, unless the row already stood so.
    const auto tickedWithoutDate = [](const ParamRow& r) {
        return Normalized(kIdReacons, r[kIdReacons]) == "S" && !HasDate(r);
    };
    if (tickedWithoutDate(wanted) && !tickedWithoutDate(stored))
        Refuse("Campo DTREACONSIMPXML: a data inicial para validações das consistências deve ser "
               "informada quando IDREACONSIMPXML é \"S\".");

    const ParamRow defaults = DefaultParamRow(out.supplier, stored[kIdForneHomo]);
    out.fromDefaults = true;
    for (int id = 0; id < kParamFieldCount; ++id) {
        json before = Normalized(id, stored[id]);
        out.row[id] = Normalized(id, wanted[id]);
        if (!kParamFields[id].column) continue;
        if (before != Normalized(id, defaults[id])) out.fromDefaults = false;
        if (before != out.row[id]) {
            const bool unreadable = Unreadable(id, before);
            out.columns.push_back({id, std::move(before), out.row[id], stored[id], unreadable});
        }
    }
    // Looked up only when the save writes it (changed, or in a first stored row): a group the
    // stored row names, even one deleted since, never blocks the save of other fields.
    const bool writesGroup =
        out.fromDefaults || std::any_of(out.columns.begin(), out.columns.end(),
                                        [](const ColumnChange& c) { return c.field == kCdGrPerm; });
    if (writesGroup && out.row[kCdGrPerm].is_string())
        out.group = out.row[kCdGrPerm].get<std::string>();
    return out;
}
