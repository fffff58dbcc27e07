#pragma once
// Variant: the dynamically typed value passed between screens, datasets and the wire.

#include "rtl/DateUtils.h"
#include "rtl/SysUtils.h"

#include <cstddef>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

enum : uint16_t {
    varEmpty = 0,
    varNull = 1,
    varInteger = 3,
    varDouble = 5,
    varDate = 7,
    varOleStr = 8,
    varBoolean = 0x0B,
    varVariant = 0x0C,
    varInt64 = 0x14,
    varStrArg = 0x48,
    varString = 0x100,
    varUString = 0x102,
    varJson = 0x10F,
    varArray = 0x2000
};

class Variant {
public:
    Variant() = default; // empty
    static Variant Null();
    Variant(bool v);
    Variant(int v);
    Variant(long v);               // varInt64 (int64_t)
    Variant(long long v);          // varInt64
    Variant(unsigned v);           // varInt64
    Variant(unsigned long v);      // varInt64; EConvertError above INT64_MAX
    Variant(unsigned long long v); // varInt64; EConvertError above INT64_MAX
    Variant(double v);
    Variant(TDateTime v);
    Variant(const char* s);                           // varString; nullptr is ""
    Variant(String s);                                // varString
    static Variant OleStr(String s);                  // varOleStr: strings that came from the wire
    static Variant Array(std::vector<Variant> items); // one dimension, low bound 0
    static Variant Json(nlohmann::json j);            // an opaque JSON document: varJson

    uint16_t VarType() const; // arrays: varArray | varVariant
    bool IsEmpty() const { return type_ == varEmpty; }
    bool IsNull() const { return type_ == varNull; }
    bool IsArray() const { return type_ == varArray; }
    bool IsString() const;

    // Conversions; EConvertError with a Portuguese message when impossible.
    String AsString() const;
    int64_t AsInteger() const; // doubles round half to even
    double AsDouble() const;
    bool AsBoolean() const;
    TDateTime AsDateTime() const;
    const nlohmann::json& AsJson() const;

    size_t ArrayLength() const;
    int ArrayHighBound() const; // -1 for an empty array
    const Variant& operator[](size_t i) const;
    Variant& operator[](size_t i);
    const std::vector<Variant>& Items() const;
    std::vector<Variant>& Items();

    // Same kind (number, string, date, boolean ...) and same value; strings compare text.
    bool operator==(const Variant& other) const;

    // Wire form: empty and null -> null; dates -> {"$date":"YYYY-MM-DDTHH:MM:SS"}.
    nlohmann::json ToJson() const;
    static Variant FromJson(const nlohmann::json& j);
    static Variant FromJson(nlohmann::json&& j); // the same, taking the document's objects over

private:
    uint16_t type_ = varEmpty;
    int64_t int_ = 0;   // varInteger, varInt64, varBoolean
    double double_ = 0; // varDouble, varDate
    String str_;
    std::vector<Variant> items_;
    std::shared_ptr<const nlohmann::json> json_; // immutable, so copies may share it
};

bool VarIsStr(const Variant& v);
bool VarIsArray(const Variant& v);
bool VarIsNull(const Variant& v); // null or empty
bool VarIsEmpty(const Variant& v);
String VarToStr(const Variant& v);
int VarArrayHighBound(const Variant& v, int dim);
// JSON text from outside (a server's answer, a file): arrays and objects nested deeper than
// `maxDepth` are refused while parsing, so nothing afterwards recurses over a depth the sender
// chose. Any fault raises EConvertError with a Portuguese message.
nlohmann::json ParseJsonLimited(const String& text, int maxDepth = 64);
