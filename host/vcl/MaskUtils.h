#pragma once
// Edit masks in the classic syntax "mask;save-literals;blank-char".
//
// Mask characters: 0 digit, 9 optional digit, # optional digit or sign, L letter, l optional
// letter, A alphanumeric, a optional alphanumeric, C any character, c optional any character;
// > upper-cases and < lower-cases what follows, <> ends case changes, ! marks leading blanks,
// \ makes the next character literal; every other character is a literal.
// Positions count characters (code points), not bytes.
#include <optional>
#include <string>
#include <vector>

#include "rtl/SysUtils.h"

class TEditMask {
public:
    TEditMask() = default;
    explicit TEditMask(const String& mask); // "" = no mask

    bool IsEmpty() const { return slots_.empty(); }
    bool SaveLiterals() const { return saveLiterals_; }
    char32_t BlankChar() const { return blank_; }
    bool LeadingBlanks() const { return leadingBlanks_; } // the mask carried '!'
    const String& Source() const { return source_; }

    size_t Positions() const { return slots_.size(); }
    bool IsLiteral(size_t pos) const;
    char32_t LiteralAt(size_t pos) const; // 0 for an input position
    bool Accepts(size_t pos, char32_t ch) const;

    String BlankEditText() const;
    // The value as Text holds it, with literals or without them per SaveLiterals; literals that
    // are present anyway are recognised, so either form of stored data displays correctly.
    String EditTextFromValue(const String& value) const;
    // Any text, e.g. pasted: characters equal to one of the literals are dropped, the rest fill
    // the input positions in order, characters an input position does not accept are skipped.
    String EditTextFromText(const String& anyText) const;
    // Literals dropped unless SaveLiterals, unfilled positions dropped; an edit text with no
    // input filled gives "" so that an untouched field stores nothing.
    String ValueFromEditText(const String& editText) const;

    // Types one character at the cursor; returns the new cursor, or nullopt when refused.
    std::optional<size_t> TypeChar(String& editText, size_t cursor, char32_t ch) const;
    // Blanks the input position before the cursor; returns the new cursor.
    size_t Backspace(String& editText, size_t cursor) const;
    // Every required position holds an acceptable character, and every filled optional one too.
    bool IsComplete(const String& editText) const;

private:
    enum class Accept { Literal, Digit, DigitOrSign, Letter, AlphaNumeric, Any };
    enum class Case { Keep, Upper, Lower };
    struct Slot {
        Accept accept = Accept::Literal;
        bool required = false;
        Case caseMode = Case::Keep;
        char32_t literal = 0;
    };

    char32_t Cased(const Slot& slot, char32_t ch) const;
    bool SlotAccepts(const Slot& slot, char32_t ch) const;
    bool IsLiteralChar(char32_t ch) const;
    std::u32string Normalized(const String& editText) const;

    String source_;
    std::vector<Slot> slots_;
    bool saveLiterals_ = true;
    bool leadingBlanks_ = false;
    char32_t blank_ = U'_';
};

// The edit text that the mask shows for value.
String FormatMaskText(const String& mask, const String& value);
