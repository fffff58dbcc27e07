// The supplier-parameters record as the client sees it: its fields in record order, each with the
// rules of its values, the packet metadata, the defaults of a supplier without a stored row, the
// value forms, and the rules of a change to one supplier's row (ValidateChange).
#pragma once

#include "screen/ParamLimits.h"

#include <nlohmann/json.hpp>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class FieldKind { Text, Number, Date };

// A field of the record and the rules of its values.
struct ParamField {
    const char* name = "";
    FieldKind kind = FieldKind::Text;
    int size = 0;       // texts: the most characters
    bool column = true; // a PARAMFORNE column (IDFORNEHOMO and DSGRUPOPER are joined in)
    bool flag = false;  // "S" or "N"
    // Numbers: the smallest value and the digits before and after the decimal comma, shared with
    // the screen's boxes; `what` names the value in a refusal ("o número de dias").
    ParamLimits::NumberLimit limit{};
    const char* what = "";
};

inline constexpr auto kParamFields = std::to_array<ParamField>({
    {.name = "CDFORNECED", .size = 21},
    {.name = "NRDIASBLOQNFFOR",
     .kind = FieldKind::Number,
     .limit = ParamLimits::kNrDiasBloqNFFor,
     .what = "o número de dias"},
    {.name = "IDFORNEHOMO", .size = 1, .column = false},
    {.name = "IDBLQNFRELAFOAF", .size = 1, .flag = true},
    {.name = "IDOBRIMPXMLNF", .size = 1, .flag = true},
    {.name = "IDOBRCHAVACESFO", .size = 1, .flag = true},
    {.name = "IDVERINSFORCHNFE", .size = 1, .flag = true},
    {.name = "IDSIMPLESNACIONAL", .size = 1, .flag = true},
    {.name = "IMPVENCXML", .size = 1, .flag = true},
    {.name = "IDREACONSIMPXML", .size = 1, .flag = true},
    {.name = "IDBLOQALTPRODREL", .size = 1, .flag = true},
    {.name = "IDPROCNOTADEBCRE", .size = 1, .flag = true},
    {.name = "IDUTPRIGXML", .size = 1, .flag = true},
    {.name = "VRMAXPERMFORN",
     .kind = FieldKind::Number,
     .limit = ParamLimits::kVrMaxPermForn,
     .what = "o valor"},
    {.name = "CDGRPERMLANMAX", .size = 2},
    {.name = "DSGRUPOPER", .size = 30, .column = false},
    {.name = "IDREACONFVRNF", .size = 1, .flag = true},
    {.name = "IDUTDESCITBCST", .size = 1, .flag = true},
    {.name = "IDCFOPCTEXML", .size = 1, .flag = true},
    {.name = "IDIMPVENCXMLCTE", .size = 1, .flag = true},
    {.name = "IDNGRAVARELAC", .size = 1, .flag = true},
    {.name = "DTREACONSIMPXML", .kind = FieldKind::Date},
    {.name = "QTREPETEPRODNF",
     .kind = FieldKind::Number,
     .limit = ParamLimits::kQtRepeteProdNF,
     .what = "a quantidade"},
    {.name = "CDPRODCONSREPE", .size = 255},
});

constexpr int kParamFieldCount = static_cast<int>(kParamFields.size());
using ParamRow = std::array<nlohmann::json, kParamFieldCount>;

constexpr const std::array<ParamField, kParamFieldCount>& ParamFields() {
    return kParamFields;
}

// -1 when not a field of the record.
constexpr int ParamFieldIndex(std::string_view name) {
    for (int i = 0; i < kParamFieldCount; ++i)
        if (name == kParamFields[i].name) return i;
    return -1;
}

// The position of a field the code names: a name that is not a field does not compile.
consteval int ParamFieldId(std::string_view name) {
    const int id = ParamFieldIndex(name);
    if (id < 0) throw "not a field of the supplier-parameters record";
    return id;
}

inline constexpr int kCdForneced = ParamFieldId("CDFORNECED");
inline constexpr int kNrDiasBloq = ParamFieldId("NRDIASBLOQNFFOR");
inline constexpr int kIdForneHomo = ParamFieldId("IDFORNEHOMO");
inline constexpr int kIdReacons = ParamFieldId("IDREACONSIMPXML");
inline constexpr int kCdGrPerm = ParamFieldId("CDGRPERMLANMAX");
inline constexpr int kDsGrupoPer = ParamFieldId("DSGRUPOPER");
inline constexpr int kDtReacons = ParamFieldId("DTREACONSIMPXML");
inline constexpr int kCdProdCons = ParamFieldId("CDPRODCONSREPE");

// What the checks take for granted of the table.
static_assert([] {
    for (int i = 0; i < kParamFieldCount; ++i) {
        const ParamField& f = kParamFields[i];
        if (ParamFieldIndex(f.name) != i) return false; // names are unique
        if ((f.kind == FieldKind::Text) != (f.size > 0)) return false;
        if (f.flag && (f.kind != FieldKind::Text || f.size != 1)) return false;
        if ((f.kind == FieldKind::Number) != (f.limit.integerDigits > 0)) return false;
        if (f.kind == FieldKind::Number && *f.what == '\0') return false;
    }
    return true;
}());

// The "fields" array of a packet.
nlohmann::json PacketFields();

// The row of a supplier that has no PARAMFORNE row.
ParamRow DefaultParamRow(const std::string& code, const nlohmann::json& idForneHomo);

// Texts where the empty text and null mean the same (stored as null): every text field, since
// other programs write '' (or, in a fixed-width column, blanks) where this server writes null.
constexpr bool EmptyMeansNull(int field) {
    return kParamFields[field].kind == FieldKind::Text;
}

// The value as compared and stored: empty or blank texts become null in every field (another
// program may have written '' into a number or date column), dates are read as their day.
nlohmann::json Normalized(int field, const nlohmann::json& value);

// A value another program stored that the record's field cannot carry: in a number or date
// field a text that reads as neither, in a text field one longer than the field. The packet
// sends it apart ("stored") with null in the row; the client shows it empty and sends it back
// as the original, so it stays as stored until the user changes that very field.
bool Unreadable(int field, const nlohmann::json& value);

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS" (also with a space) of a real calendar day.
struct IsoDateTime {
    int year, month, day, hour, minute, second;
};
std::optional<IsoDateTime> ParseIsoDateTime(std::string_view text);

// The day of a date as other programs store it: "YYYY-MM-DD" or "dd/mm/yyyy", either with a time
// of day after it ("YYYY-MM-DDTHH:MM", seconds and their fraction optional); "YYYY-MM-DD".
std::optional<std::string> StoredDay(std::string_view text);

// A stored date in the packet: its day, null for a blank, or an unreadable text as it stands.
nlohmann::json PacketDate(const std::string& stored);

// A stored number in the packet: integral values as JSON integers.
nlohmann::json PacketNumber(double value);

// Position (1-based, in characters) of the first control character of UTF-8 text: C0 (NUL, tab,
// line breaks...), DEL or C1. 0 when there is none. No stored text may hold one: PostgreSQL
// would cut the text at a NUL where SQLite keeps it.
size_t ControlCharacterPosition(std::string_view text);

// Refuses (-32000) a text holding a control character, naming `where` (followed by `field`) and
// its position. With onlyNul only a NUL is refused: an original value repeats what the database
// holds, where another program may have left a tab, but PostgreSQL would cut a comparison at a NUL.
void RefuseControlCharacter(std::string_view where, const nlohmann::json& value,
                            bool onlyNul = false, std::string_view field = {});

// A PARAMFORNE column a change sets: its old and new values as compared and stored (Normalized),
// and the original exactly as the client read it, which the where-changed check compares with.
struct ColumnChange {
    int field;
    nlohmann::json oldValue;
    nlohmann::json newValue;
    nlohmann::json original;
    bool unreadable = false; // the original is a value the field cannot carry, kept as stored
};

// A change of one supplier's row that passed every rule the record holds without the database.
struct ValidChange {
    std::string supplier;
    std::vector<ColumnChange> columns; // the columns that change; none: nothing to store
    ParamRow row;                      // the whole new row, normalized: the first stored row
    bool fromDefaults = false; // the original is the default row: only then may a row be inserted
    std::optional<std::string> group; // the operator group the save writes, to be found in GRUPOPER
};

// The supplier's code of the row the client read, once every original value is one the record
// takes back as it stands (its type right, no NUL) and the code is there; else RpcError(-32000).
std::string StoredSupplier(const ParamRow& stored);

// The rules of a change to one supplier's row, before anything is written. `stored` is the row as
// the client read it, in record order (values another program stored in forms of their own
// included, which come back unchanged); `changes` the new values by field name. A new value equal
// to its original ('' and null alike) is no change: neither checked nor written, so a value
// another program stored never blocks the save of the fields the user did change. `daysEmpty`
// stores NRDIASBLOQNFFOR as null, unless its original reads as no number (the box showed it
// empty). A refusal is RpcError(-32000) naming the field and the reason.
ValidChange ValidateChange(const ParamRow& stored, const nlohmann::json& changes,
                           bool daysEmpty = false);
