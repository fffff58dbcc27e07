#include "vcl/Mask.h"

#include "rtl/Utf8.h"
#include "vcl/FormReader.h"

TCustomMaskEdit::TCustomMaskEdit(TComponent* owner) : TCustomEdit(owner) {}

void TCustomMaskEdit::SetEditMask(const String& mask) {
    if (mask == mask_.Source()) return;
    String shown = EditText();
    String bare;
    if (mask_.IsEmpty()) {
        bare = shown;
    } else {
        // Only what the user filled in survives: the old literals and blanks go.
        TEditMask old = mask_;
        std::u32string t = ToU32(shown), b;
        for (size_t i = 0; i < t.size() && i < old.Positions(); ++i)
            if (!old.IsLiteral(i) && t[i] != old.BlankChar()) b += t[i];
        bare = ToUtf8(b);
    }
    mask_ = TEditMask(mask);
    Changed(TControlProperty::EditMask);
    String next = mask_.IsEmpty() ? bare : mask_.EditTextFromText(bare);
    ReplaceText(next, mask_.IsEmpty() ? static_cast<int>(Utf8Length(next)) : 0);
}

String TCustomMaskEdit::Text() const {
    if (mask_.IsEmpty()) return TControl::Text();
    return mask_.ValueFromEditText(TControl::Text());
}

void TCustomMaskEdit::SetText(const String& value) {
    if (mask_.IsEmpty()) {
        TCustomEdit::SetText(value);
        return;
    }
    ReplaceText(mask_.EditTextFromValue(value), 0);
}

void TCustomMaskEdit::SetEditText(const String& editText) {
    if (mask_.IsEmpty()) {
        TCustomEdit::SetText(editText);
        return;
    }
    ReplaceText(mask_.EditTextFromText(editText), 0);
}

void TCustomMaskEdit::HandleKey(Char key) {
    if (mask_.IsEmpty()) {
        TCustomEdit::HandleKey(key);
        return;
    }
    if (key != 8 && key < 32) return;
    if (!EditCanModify()) return;
    String t = EditText();
    size_t cursor = static_cast<size_t>(SelStart());
    if (SelLength() > 0) {
        // Typing over a selection blanks it first, as the classic masked edit does.
        std::u32string u = ToU32(t);
        for (size_t i = cursor; i < cursor + static_cast<size_t>(SelLength()) && i < u.size(); ++i)
            if (!mask_.IsLiteral(i)) u[i] = mask_.BlankChar();
        t = ToUtf8(u);
        if (key == 8) {
            ReplaceText(t, static_cast<int>(cursor));
            return;
        }
    } else if (key == 8) {
        size_t c = mask_.Backspace(t, cursor);
        ReplaceText(t, static_cast<int>(c));
        return;
    }
    if (auto next = mask_.TypeChar(t, cursor, key)) ReplaceText(t, static_cast<int>(*next));
}

void TCustomMaskEdit::DeleteSelection() {
    if (mask_.IsEmpty()) {
        TCustomEdit::DeleteSelection();
        return;
    }
    if (SelLength() == 0 || !EditCanModify()) return;
    std::u32string u = ToU32(EditText());
    size_t from = static_cast<size_t>(SelStart());
    for (size_t i = from; i < from + static_cast<size_t>(SelLength()) && i < u.size(); ++i)
        if (!mask_.IsLiteral(i)) u[i] = mask_.BlankChar();
    ReplaceText(ToUtf8(u), static_cast<int>(from));
}

bool TCustomMaskEdit::ReadProperty(const DfmProperty& p, TFormReader& r) {
    if (p.name == "EditMask") {
        SetEditMask(r.Str(p));
        return true;
    }
    if (p.name == "Text") {
        SetText(r.Str(p));
        return true;
    }
    return TCustomEdit::ReadProperty(p, r);
}
