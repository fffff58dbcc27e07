#include "rtl/Variant.h"
#include "rtl/JsonDepth.h"
#include "rtl/JsonReader.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {
const char* TypeName(uint16_t t) {
    switch (t) {
    case varEmpty:
        return "vazio";
    case varNull:
        return "nulo";
    case varInteger:
    case varInt64:
        return "inteiro";
    case varDouble:
        return "número";
    case varDate:
        return "data";
    case varBoolean:
        return "lógico";
    case varJson:
        return "documento JSON";
    case varArray:
        return "array";
    default:
        return "texto";
    }
}

[[noreturn]] void CannotConvert(uint16_t from, const char* to) {
    throw EConvertError(String("Não é possível converter um valor do tipo ") + TypeName(from) +
                        " para " + to);
}

// Doubles beyond this are outside int64; 2^63 itself is not representable as int64.
constexpr double kTwo63 = 9223372036854775808.0;

bool DoubleToInt64(double d, int64_t& out) {
    if (!std::isfinite(d)) return false;
    const double r = std::nearbyint(d); // the default mode rounds half to even
    if (r < -kTwo63 || r >= kTwo63) return false;
    out = static_cast<int64_t>(r);
    return true;
}

bool IsStrType(uint16_t t) {
    return t == varOleStr || t == varStrArg || t == varString || t == varUString;
}
} // namespace

Variant Variant::Null() {
    Variant v;
    v.type_ = varNull;
    return v;
}

Variant::Variant(bool v) : type_(varBoolean), int_(v ? 1 : 0) {}
Variant::Variant(int v) : type_(varInteger), int_(v) {}
Variant::Variant(long v) : type_(varInt64), int_(v) {}
Variant::Variant(long long v) : type_(varInt64), int_(v) {}
Variant::Variant(unsigned v) : type_(varInt64), int_(v) {}

Variant::Variant(unsigned long v) : type_(varInt64) {
    if (v > static_cast<unsigned long>(std::numeric_limits<int64_t>::max()))
        throw EConvertError("'" + std::to_string(v) + "' excede o maior inteiro suportado");
    int_ = static_cast<int64_t>(v);
}

Variant::Variant(unsigned long long v) : type_(varInt64) {
    if (v > static_cast<unsigned long long>(std::numeric_limits<int64_t>::max()))
        throw EConvertError("'" + std::to_string(v) + "' excede o maior inteiro suportado");
    int_ = static_cast<int64_t>(v);
}

Variant::Variant(double v) : type_(varDouble), double_(v) {}
Variant::Variant(TDateTime v) : type_(varDate), double_(v.Val) {}
Variant::Variant(const char* s) : type_(varString), str_(s ? s : "") {}
Variant::Variant(String s) : type_(varString), str_(std::move(s)) {}

Variant Variant::OleStr(String s) {
    Variant v(std::move(s));
    v.type_ = varOleStr;
    return v;
}

Variant Variant::Array(std::vector<Variant> items) {
    Variant v;
    v.type_ = varArray;
    v.items_ = std::move(items);
    return v;
}

namespace {
// Empties a document's containers from the leaves up, to a bounded depth: each value is then
// destroyed once where it stands, while the library's own way moves every value of a document
// onto a stack of its own before destroying it. What lies deeper is left to the library.
void Dismantle(nlohmann::json& j, int depth) {
    if (depth > 32) return;
    if (j.is_array()) {
        auto& items = j.get_ref<nlohmann::json::array_t&>();
        for (auto& item : items)
            if (item.is_structured()) Dismantle(item, depth + 1);
        items.clear();
    } else if (j.is_object()) {
        auto& members = j.get_ref<nlohmann::json::object_t&>();
        for (auto& member : members)
            if (member.second.is_structured()) Dismantle(member.second, depth + 1);
        members.clear();
    }
}

// A document held by Variants: a server's packet when it came from the wire.
struct HeldJson {
    explicit HeldJson(nlohmann::json&& j) : doc(std::move(j)) {}
    HeldJson(const HeldJson&) = delete;
    HeldJson& operator=(const HeldJson&) = delete;
    ~HeldJson() { Dismantle(doc, 0); }
    nlohmann::json doc;
};
} // namespace

Variant Variant::Json(nlohmann::json j) {
    Variant v;
    v.type_ = varJson;
    auto held = std::make_shared<HeldJson>(std::move(j));
    const nlohmann::json* doc = &held->doc;
    v.json_ = std::shared_ptr<const nlohmann::json>(std::move(held), doc);
    return v;
}

uint16_t Variant::VarType() const {
    return type_ == varArray ? varArray | varVariant : type_;
}

bool Variant::IsString() const {
    return IsStrType(type_);
}

// ---------------------------------------------------------------- conversions

String Variant::AsString() const {
    switch (type_) {
    case varEmpty:
    case varNull:
        return "";
    case varBoolean:
        return int_ ? "True" : "False";
    case varInteger:
    case varInt64:
        return IntToStr(int_);
    case varDouble:
        return FloatToStr(double_);
    case varDate:
        return DateTimeToStr(double_);
    case varJson:
        return json_->dump();
    case varArray:
        CannotConvert(type_, "texto");
    default:
        return str_;
    }
}

int64_t Variant::AsInteger() const {
    switch (type_) {
    case varEmpty:
        return 0;
    case varBoolean:
    case varInteger:
    case varInt64:
        return int_;
    case varDouble:
    case varDate: {
        int64_t r = 0;
        if (!DoubleToInt64(double_, r))
            throw EConvertError("'" + FloatToStr(double_) + "' não é um valor inteiro válido");
        return r;
    }
    default:
        if (IsString()) return StrToInt64(str_);
        CannotConvert(type_, "inteiro");
    }
}

double Variant::AsDouble() const {
    switch (type_) {
    case varEmpty:
        return 0;
    case varBoolean:
    case varInteger:
    case varInt64:
        return static_cast<double>(int_);
    case varDouble:
    case varDate:
        return double_;
    default:
        if (IsString()) return StrToFloat(str_);
        CannotConvert(type_, "número");
    }
}

bool Variant::AsBoolean() const {
    switch (type_) {
    case varEmpty:
        return false;
    case varBoolean:
    case varInteger:
    case varInt64:
        return int_ != 0;
    case varDouble:
    case varDate:
        return double_ != 0;
    default:
        if (IsString()) {
            const String t = LowerCase(Trim(str_));
            if (t == "true" || t == "verdadeiro") return true;
            if (t == "false" || t == "falso") return false;
            double d = 0;
            if (TryStrToFloat(t, d)) return d != 0;
            throw EConvertError("'" + str_ + "' não é um valor lógico válido");
        }
        CannotConvert(type_, "lógico");
    }
}

TDateTime Variant::AsDateTime() const {
    switch (type_) {
    case varEmpty:
        return TDateTime();
    case varInteger:
    case varInt64:
        return static_cast<double>(int_);
    case varDouble:
    case varDate:
        return double_;
    default:
        if (IsString()) {
            // typed text is Brazilian; text from the wire is usually ISO
            TDateTime r;
            if (TryStrToDateTime(str_, r) || TryISOToDateTime(str_, r)) return r;
            throw EConvertError("'" + str_ + "' não é uma data válida");
        }
        CannotConvert(type_, "data");
    }
}

const nlohmann::json& Variant::AsJson() const {
    if (type_ != varJson) CannotConvert(type_, "documento JSON");
    return *json_;
}

// ---------------------------------------------------------------- arrays

namespace {
[[noreturn]] void NotAnArray() {
    throw EConvertError("O valor não é um array");
}

[[noreturn]] void BadIndex(size_t i, size_t n) {
    throw EConvertError("Índice " + std::to_string(i) + " fora dos limites do array (0.." +
                        std::to_string(static_cast<long long>(n) - 1) + ")");
}
} // namespace

size_t Variant::ArrayLength() const {
    return Items().size();
}

int Variant::ArrayHighBound() const {
    return static_cast<int>(ArrayLength()) - 1;
}

const Variant& Variant::operator[](size_t i) const {
    const auto& items = Items();
    if (i >= items.size()) BadIndex(i, items.size());
    return items[i];
}

Variant& Variant::operator[](size_t i) {
    auto& items = Items();
    if (i >= items.size()) BadIndex(i, items.size());
    return items[i];
}

const std::vector<Variant>& Variant::Items() const {
    if (type_ != varArray) NotAnArray();
    return items_;
}

std::vector<Variant>& Variant::Items() {
    if (type_ != varArray) NotAnArray();
    return items_;
}

// ---------------------------------------------------------------- equality

namespace {
enum class Kind { Empty, Null, Boolean, Number, Date, Text, Array, Json };

Kind KindOf(uint16_t t) {
    switch (t) {
    case varEmpty:
        return Kind::Empty;
    case varNull:
        return Kind::Null;
    case varBoolean:
        return Kind::Boolean;
    case varInteger:
    case varInt64:
    case varDouble:
        return Kind::Number;
    case varDate:
        return Kind::Date;
    case varArray:
        return Kind::Array;
    case varJson:
        return Kind::Json;
    default:
        return Kind::Text;
    }
}

// Exact, also for integers beyond 2^53.
bool SameNumber(bool aInt, int64_t ai, double ad, bool bInt, int64_t bi, double bd) {
    if (aInt && bInt) return ai == bi;
    if (!aInt && !bInt) return ad == bd;
    const int64_t i = aInt ? ai : bi;
    const double d = aInt ? bd : ad;
    if (!std::isfinite(d) || d != std::trunc(d) || d < -kTwo63 || d >= kTwo63) return false;
    return static_cast<int64_t>(d) == i;
}
} // namespace

bool Variant::operator==(const Variant& o) const {
    const Kind k = KindOf(type_);
    if (k != KindOf(o.type_)) return false;
    switch (k) {
    case Kind::Empty:
    case Kind::Null:
        return true;
    case Kind::Boolean:
        return int_ == o.int_;
    case Kind::Number:
        return SameNumber(type_ != varDouble, int_, double_, o.type_ != varDouble, o.int_,
                          o.double_);
    case Kind::Date:
        return double_ == o.double_;
    case Kind::Text:
        return str_ == o.str_;
    case Kind::Array:
        return items_ == o.items_;
    case Kind::Json:
        return *json_ == *o.json_;
    }
    return false;
}

// ---------------------------------------------------------------- JSON

nlohmann::json Variant::ToJson() const {
    switch (type_) {
    case varEmpty:
    case varNull:
        return nullptr;
    case varBoolean:
        return int_ != 0;
    case varInteger:
    case varInt64:
        return int_;
    case varDouble:
        // JSON has no NaN or infinity; sending null would silently change the value
        if (!std::isfinite(double_))
            throw EConvertError("'" + FloatToStr(double_) + "' não pode ser representado em JSON");
        return double_;
    case varDate:
        return {{"$date", DateTimeToISOFull(double_)}};
    case varJson:
        return *json_;
    case varArray: {
        nlohmann::json a = nlohmann::json::array();
        for (const Variant& v : items_)
            a.push_back(v.ToJson());
        return a;
    }
    default:
        return str_;
    }
}

Variant Variant::FromJson(nlohmann::json&& j) {
    // Only an object is kept whole: moving it spares a copy of a server's data packet.
    if (j.is_object() && !(j.size() == 1 && j.contains("$date"))) return Json(std::move(j));
    if (j.is_array()) {
        std::vector<Variant> items;
        items.reserve(j.size());
        for (auto& e : j)
            items.push_back(FromJson(std::move(e)));
        return Array(std::move(items));
    }
    return FromJson(static_cast<const nlohmann::json&>(j));
}

Variant Variant::FromJson(const nlohmann::json& j) {
    using T = nlohmann::json::value_t;
    switch (j.type()) {
    case T::null:
        return Null();
    case T::boolean:
        return Variant(j.get<bool>());
    case T::number_integer: {
        const int64_t v = j.get<int64_t>();
        if (v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max())
            return Variant(static_cast<int>(v));
        return Variant(v);
    }
    case T::number_unsigned: {
        const uint64_t v = j.get<uint64_t>();
        if (v <= static_cast<uint64_t>(std::numeric_limits<int>::max()))
            return Variant(static_cast<int>(v));
        return Variant(static_cast<unsigned long long>(v)); // EConvertError above INT64_MAX
    }
    case T::number_float:
        return Variant(j.get<double>());
    case T::string:
        return OleStr(j.get<String>());
    case T::array: {
        std::vector<Variant> items;
        items.reserve(j.size());
        for (const auto& e : j)
            items.push_back(FromJson(e));
        return Array(std::move(items));
    }
    case T::object:
        if (j.size() == 1 && j.contains("$date") && j["$date"].is_string())
            return Variant(ISOToDateTime(j["$date"].get<String>()));
        return Json(j);
    default:
        throw EConvertError("Tipo de valor JSON não suportado");
    }
}

// ---------------------------------------------------------------- helpers

bool VarIsStr(const Variant& v) {
    return v.IsString();
}
bool VarIsArray(const Variant& v) {
    return v.IsArray();
}
bool VarIsNull(const Variant& v) {
    return v.IsNull() || v.IsEmpty();
}
bool VarIsEmpty(const Variant& v) {
    return v.IsEmpty();
}
String VarToStr(const Variant& v) {
    return v.AsString();
}

int VarArrayHighBound(const Variant& v, int dim) {
    if (dim != 1) throw EConvertError("Dimensão " + std::to_string(dim) + " inválida do array");
    return v.ArrayHighBound();
}

nlohmann::json ParseJsonLimited(const String& text, int maxDepth) {
    // Most texts are read by the quick reader; the full parser takes the rest and their faults.
    nlohmann::json plain;
    if (ReadPlainJson(text, maxDepth, plain)) return plain;
    if (JsonNestsBeyond(text, maxDepth))
        throw EConvertError("JSON aninhado além de " + std::to_string(maxDepth) + " níveis");
    try {
        return nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception&) {
        throw EConvertError("JSON inválido");
    }
}
