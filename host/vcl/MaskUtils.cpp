#include "vcl/MaskUtils.h"

#include <algorithm>

#include "rtl/Utf8.h"

namespace {

bool IsDigit(char32_t c) {
    return c >= U'0' && c <= U'9';
}

// Letters of the Latin-1 range: enough for Portuguese text, accents included.
bool IsLetter(char32_t c) {
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') ||
           (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7);
}

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

char32_t ToUpper(char32_t c) {
    if (c >= U'a' && c <= U'z') return c - 0x20;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    return c;
}

char32_t ToLower(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    return c;
}

} // namespace

TEditMask::TEditMask(const String& mask) : source_(mask) {
    std::u32string src = ToU32(mask);
    // The mask field ends at the first ';' that no '\' escapes.
    size_t end = 0;
    while (end < src.size() && src[end] != U';')
        end += src[end] == U'\\' ? 2 : 1;
    end = std::min(end, src.size());
    if (end < src.size()) {
        std::u32string rest = src.substr(end + 1);
        size_t sep = rest.find(U';');
        std::u32string save = rest.substr(0, sep);
        if (!save.empty()) saveLiterals_ = save[0] != U'0';
        if (sep != std::u32string::npos && sep + 1 < rest.size()) blank_ = rest[sep + 1];
    }

    Case caseMode = Case::Keep;
    for (size_t i = 0; i < end; ++i) {
        char32_t c = src[i];
        Slot slot;
        slot.caseMode = caseMode;
        switch (c) {
        case U'\\':
            slot.literal = i + 1 < end ? src[++i] : U'\\';
            break;
        case U'>':
            caseMode = Case::Upper;
            continue;
        case U'<':
            if (i + 1 < end && src[i + 1] == U'>') {
                ++i;
                caseMode = Case::Keep;
            } else {
                caseMode = Case::Lower;
            }
            continue;
        case U'!':
            leadingBlanks_ = true;
            continue;
        case U'0':
        case U'9':
            slot.accept = Accept::Digit;
            slot.required = c == U'0';
            break;
        case U'#':
            slot.accept = Accept::DigitOrSign;
            break;
        case U'L':
        case U'l':
            slot.accept = Accept::Letter;
            slot.required = c == U'L';
            break;
        case U'A':
        case U'a':
            slot.accept = Accept::AlphaNumeric;
            slot.required = c == U'A';
            break;
        case U'C':
        case U'c':
            slot.accept = Accept::Any;
            slot.required = c == U'C';
            break;
        default:
            slot.literal = c;
            break;
        }
        slots_.push_back(slot);
    }
}

bool TEditMask::IsLiteral(size_t pos) const {
    return pos < slots_.size() && slots_[pos].accept == Accept::Literal;
}

char32_t TEditMask::LiteralAt(size_t pos) const {
    return IsLiteral(pos) ? slots_[pos].literal : 0;
}

bool TEditMask::Accepts(size_t pos, char32_t ch) const {
    return pos < slots_.size() && SlotAccepts(slots_[pos], ch);
}

// The blank character marks an unfilled position, so it is never content.
bool TEditMask::SlotAccepts(const Slot& slot, char32_t ch) const {
    if (ch == blank_ || IsControl(ch)) return false;
    switch (slot.accept) {
    case Accept::Literal:
        return false;
    case Accept::Digit:
        return IsDigit(ch);
    case Accept::DigitOrSign:
        return IsDigit(ch) || ch == U'+' || ch == U'-';
    case Accept::Letter:
        return IsLetter(ch);
    case Accept::AlphaNumeric:
        return IsLetter(ch) || IsDigit(ch);
    case Accept::Any:
        return true;
    }
    return false;
}

char32_t TEditMask::Cased(const Slot& slot, char32_t ch) const {
    switch (slot.caseMode) {
    case Case::Upper:
        return ToUpper(ch);
    case Case::Lower:
        return ToLower(ch);
    case Case::Keep:
        break;
    }
    return ch;
}

bool TEditMask::IsLiteralChar(char32_t ch) const {
    return std::any_of(slots_.begin(), slots_.end(), [&](const Slot& s) {
        return s.accept == Accept::Literal && s.literal == ch;
    });
}

std::u32string TEditMask::Normalized(const String& editText) const {
    std::u32string text = ToU32(editText);
    if (text.size() > slots_.size()) text.resize(slots_.size());
    for (size_t pos = text.size(); pos < slots_.size(); ++pos)
        text += IsLiteral(pos) ? slots_[pos].literal : blank_;
    return text;
}

String TEditMask::BlankEditText() const {
    return ToUtf8(Normalized(String()));
}

String TEditMask::EditTextFromValue(const String& value) const {
    if (IsEmpty()) return value;
    std::u32string v = ToU32(value);
    std::u32string out;
    size_t vi = 0;
    for (size_t pos = 0; pos < slots_.size(); ++pos) {
        const Slot& slot = slots_[pos];
        if (slot.accept == Accept::Literal) {
            if (saveLiterals_ && vi < v.size() && v[vi] == slot.literal) ++vi;
            out += slot.literal;
            continue;
        }
        // The next literal of the mask: a saved value that reaches it early left positions open.
        char32_t due = 0;
        for (size_t k = pos + 1; k < slots_.size() && !due; ++k)
            if (slots_[k].accept == Accept::Literal) due = slots_[k].literal;
        char32_t put = blank_;
        while (vi < v.size()) {
            char32_t c = v[vi];
            if (SlotAccepts(slot, c)) {
                put = Cased(slot, c);
                ++vi;
                break;
            }
            if (c == blank_ || c == U' ') { // an unfilled position as stored
                ++vi;
                break;
            }
            if (saveLiterals_ && due && c == due) break;
            ++vi; // neither content nor layout: dropped
        }
        out += put;
    }
    return ToUtf8(out);
}

String TEditMask::EditTextFromText(const String& anyText) const {
    if (IsEmpty()) return anyText;
    std::u32string v = ToU32(anyText);
    std::u32string out;
    size_t vi = 0;
    for (const Slot& slot : slots_) {
        if (slot.accept == Accept::Literal) {
            out += slot.literal;
            continue;
        }
        char32_t put = blank_;
        while (vi < v.size()) {
            char32_t c = v[vi++];
            if (!IsLiteralChar(c) && SlotAccepts(slot, c)) {
                put = Cased(slot, c);
                break;
            }
        }
        out += put;
    }
    return ToUtf8(out);
}

String TEditMask::ValueFromEditText(const String& editText) const {
    if (IsEmpty()) return editText;
    std::u32string text = Normalized(editText);
    std::u32string out;
    bool filled = false;
    for (size_t pos = 0; pos < slots_.size(); ++pos) {
        const Slot& slot = slots_[pos];
        if (slot.accept == Accept::Literal) {
            if (saveLiterals_) out += slot.literal;
        } else if (text[pos] != blank_) {
            out += text[pos];
            filled = true;
        }
    }
    return filled ? ToUtf8(out) : String();
}

std::optional<size_t> TEditMask::TypeChar(String& editText, size_t cursor, char32_t ch) const {
    if (IsEmpty()) {
        if (IsControl(ch)) return std::nullopt;
        std::u32string text = ToU32(editText);
        cursor = std::min(cursor, text.size());
        text.insert(text.begin() + static_cast<std::ptrdiff_t>(cursor), ch);
        editText = ToUtf8(text);
        return cursor + 1;
    }
    if (cursor >= slots_.size()) return std::nullopt;
    size_t pos = cursor;
    if (IsLiteral(pos)) {
        if (ch == slots_[pos].literal) {
            editText = ToUtf8(Normalized(editText));
            return pos + 1;
        }
        while (pos < slots_.size() && IsLiteral(pos))
            ++pos;
        if (pos == slots_.size()) return std::nullopt;
    }
    if (!SlotAccepts(slots_[pos], ch)) return std::nullopt;
    std::u32string text = Normalized(editText);
    text[pos] = Cased(slots_[pos], ch);
    editText = ToUtf8(text);
    return pos + 1;
}

size_t TEditMask::Backspace(String& editText, size_t cursor) const {
    if (IsEmpty()) {
        std::u32string text = ToU32(editText);
        cursor = std::min(cursor, text.size());
        if (cursor == 0) return 0;
        text.erase(cursor - 1, 1);
        editText = ToUtf8(text);
        return cursor - 1;
    }
    size_t pos = std::min(cursor, slots_.size());
    while (pos > 0) {
        --pos;
        if (!IsLiteral(pos)) {
            std::u32string text = Normalized(editText);
            text[pos] = blank_;
            editText = ToUtf8(text);
            return pos;
        }
    }
    return std::min(cursor, slots_.size()); // only literals before the cursor: nothing to erase
}

bool TEditMask::IsComplete(const String& editText) const {
    if (IsEmpty()) return true;
    std::u32string text = ToU32(editText);
    if (text.size() != slots_.size()) return false;
    for (size_t pos = 0; pos < slots_.size(); ++pos) {
        const Slot& slot = slots_[pos];
        if (slot.accept == Accept::Literal) continue;
        if (text[pos] == blank_) {
            if (slot.required) return false;
        } else if (!SlotAccepts(slot, text[pos])) {
            return false;
        }
    }
    return true;
}

String FormatMaskText(const String& mask, const String& value) {
    return TEditMask(mask).EditTextFromValue(value);
}
