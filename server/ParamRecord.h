// The supplier-parameters record as the client sees it: 24 fields in record order, their
// packet metadata, the defaults of a supplier without a stored row, and the value forms.
#pragma once

#include <nlohmann/json.hpp>

#include <array>
#include <optional>
#include <string>
#include <string_view>

enum class FieldKind { Text, Number, Date };

struct ParamField {
    const char* name;
    FieldKind kind;
    int size;    // characters, texts only
    bool column; // a PARAMFORNE column (IDFORNEHOMO and DSGRUPOPER are joined)
    bool flag;   // "S"/"N"
};

constexpr int kParamFieldCount = 24;
using ParamRow = std::array<nlohmann::json, kParamFieldCount>;

const std::array<ParamField, kParamFieldCount>& ParamFields();
int ParamFieldIndex(std::string_view name); // -1 when not a field of the record

enum ParamFieldId : int {
    kCdForneced = 0,
    kNrDiasBloq = 1,
    kIdForneHomo = 2,
    kIdReacons = 9,
    kVrMaxPerm = 13,
    kCdGrPerm = 14,
    kDsGrupoPer = 15,
    kDtReacons = 21,
    kQtRepete = 22,
    kCdProdCons = 23,
};

// The "fields" array of a packet.
nlohmann::json PacketFields();

// The row of a supplier that has no PARAMFORNE row.
ParamRow DefaultParamRow(const std::string& code, const nlohmann::json& idForneHomo);

// Texts where the empty text and null mean the same (stored as null): every text field, since
// other programs write '' (or, in a fixed-width column, blanks) where this server writes null.
bool EmptyMeansNull(int field);

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

// A value as the audit log writes it: null stays null, numbers in their shortest exact form.
std::optional<std::string> LogText(const nlohmann::json& value);

// Position (1-based, in characters) of the first control character of UTF-8 text: C0 (NUL, tab,
// line breaks...), DEL or C1. 0 when there is none. No stored text may hold one: PostgreSQL
// would cut the text at a NUL where SQLite keeps it.
size_t ControlCharacterPosition(std::string_view text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool ValidUtf8(std::string_view text);
