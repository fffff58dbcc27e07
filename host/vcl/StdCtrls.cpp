#include "vcl/StdCtrls.h"

#include <algorithm>

#include "rtl/Utf8.h"
#include "vcl/FormReader.h"
#include "vcl/Forms.h"

namespace {
// Designer settings that change nothing in behaviour here but are valid in a definition.
bool IsCosmetic(const String& n) {
    static const char* names[] = {"BevelInner",  "BevelOuter",    "BevelWidth",       "BorderWidth",
                                  "Ctl3D",       "ParentCtl3D",   "ParentBiDiMode",   "BiDiMode",
                                  "Transparent", "WordWrap",      "Layout",           "Margin",
                                  "Spacing",     "DragCursor",    "DragMode",         "ImeMode",
                                  "ImeName",     "HelpContext",   "BorderStyle",      "Cursor",
                                  "Anchors",     "Constraints",   "ParentBackground", "FullRepaint",
                                  "Locked",      "UseDockManager"};
    return std::any_of(std::begin(names), std::end(names), [&](const char* x) { return n == x; });
}
} // namespace

TLabel::TLabel(TComponent* owner) : TControl(owner) {
    SetParentColor(true);
}

bool TLabel::ReadProperty(const DfmProperty& p, TFormReader& r) {
    if (p.name == "FocusControl") {
        r.Ref<TWinControl>(p, [this](TWinControl* c) { FocusControl = c; });
        return true;
    }
    if (IsCosmetic(p.name)) return true;
    return TControl::ReadProperty(p, r);
}

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner) {
    SetTabStop(false);
}

bool TGroupBox::ReadProperty(const DfmProperty& p, TFormReader& r) {
    if (IsCosmetic(p.name)) return true;
    return TWinControl::ReadProperty(p, r);
}

TPanel::TPanel(TComponent* owner) : TWinControl(owner) {
    SetTabStop(false);
}

bool TPanel::ReadProperty(const DfmProperty& p, TFormReader& r) {
    if (p.name == "Align") {
        Align = r.Ident(p);
        return true;
    }
    if (IsCosmetic(p.name)) return true;
    return TWinControl::ReadProperty(p, r);
}

// ---------------------------------------------------------------------------------------------

TCustomEdit::TCustomEdit(TComponent* owner) : TWinControl(owner) {
    SetColor(clWindow);
    SetAutoSize(true);
}

void TCustomEdit::SetText(const String& s) {
    if (s == TControl::Text()) return;
    TControl::SetText(s);
    selStart_ = static_cast<int>(Utf8Length(s));
    selLength_ = 0;
    Change();
}

void TCustomEdit::SetMaxLength(int n) {
    if (n < 0) n = 0;
    if (n == maxLength_) return;
    maxLength_ = n;
    Changed(TControlProperty::MaxLength);
}

void TCustomEdit::SetReadOnly(bool v) {
    if (v == readOnly_) return;
    readOnly_ = v;
    Changed(TControlProperty::ReadOnly);
}

void TCustomEdit::ClampSelection() {
    int len = static_cast<int>(Utf8Length(TControl::Text()));
    selStart_ = std::clamp(selStart_, 0, len);
    selLength_ = std::clamp(selLength_, 0, len - selStart_);
}

void TCustomEdit::SetSelStart(int pos) {
    selStart_ = pos;
    selLength_ = 0;
    ClampSelection();
    Changed(TControlProperty::Selection);
}

void TCustomEdit::SetSelLength(int len) {
    selLength_ = len;
    ClampSelection();
    Changed(TControlProperty::Selection);
}

void TCustomEdit::SelectAll() {
    selStart_ = 0;
    selLength_ = static_cast<int>(Utf8Length(TControl::Text()));
    Changed(TControlProperty::Selection);
}

void TCustomEdit::DoEnter() {
    TWinControl::DoEnter();
    // Entered from the keyboard, or sent here by the program, the whole text is selected so that
    // typing replaces it; a click leaves the caret where it fell. After OnEnter, which may
    // change the text (a mask taken off).
    if (!autoSelect_ || !Focused() || Destroying()) return;
    TCustomForm* f = ParentForm();
    if (!f || f->MouseFocusTarget() != this) SelectAll();
}

void TCustomEdit::Change() {
    if (OnChange && !Destroying() && !Loading()) OnChange(this);
}

void TCustomEdit::ReplaceText(const String& s, int cursor) {
    bool differs = s != TControl::Text();
    SetTextSilently(s);
    selStart_ = cursor;
    selLength_ = 0;
    ClampSelection();
    Changed(TControlProperty::Text);
    if (differs) Change();
}

void TCustomEdit::HandleKey(Char key) {
    if (key != 8 && key < 32) return; // Enter, Esc and other control keys do not edit
    if (!EditCanModify()) return;
    std::u32string t = ToU32(TControl::Text());
    ClampSelection();
    size_t start = static_cast<size_t>(selStart_), len = static_cast<size_t>(selLength_);
    if (key == 8) {
        if (len == 0) {
            if (start == 0) return;
            --start;
            len = 1;
        }
        t.erase(start, len);
        ReplaceText(ToUtf8(t), static_cast<int>(start));
        return;
    }
    if (maxLength_ > 0 && t.size() - len + 1 > static_cast<size_t>(maxLength_)) return;
    t.replace(start, len, 1, key);
    ReplaceText(ToUtf8(t), static_cast<int>(start + 1));
}

void TCustomEdit::HandleKeyDown(Word key, TShiftState shift) {
    if (IsDropDownKey(key, shift)) {
        if (TSpeedButton* b = SearchButtonOf(this)) b->UserClick();
        return;
    }
    if (shift != 0) return;
    ClampSelection();
    const int length = static_cast<int>(Utf8Length(TControl::Text()));
    switch (key) {
    case VK_LEFT:
        SetSelStart(selLength_ > 0 ? selStart_ : selStart_ - 1);
        break;
    case VK_RIGHT:
        SetSelStart(selLength_ > 0 ? selStart_ + selLength_ : selStart_ + 1);
        break;
    case VK_HOME:
        SetSelStart(0);
        break;
    case VK_END:
        SetSelStart(length);
        break;
    default:
        break;
    }
}

void TCustomEdit::DeleteSelection() {
    ClampSelection();
    if (selLength_ == 0 || !EditCanModify()) return;
    std::u32string t = ToU32(TControl::Text());
    t.erase(static_cast<size_t>(selStart_), static_cast<size_t>(selLength_));
    ReplaceText(ToUtf8(t), selStart_);
}

bool TCustomEdit::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "MaxLength")
        SetMaxLength(r.Int(p));
    else if (n == "ReadOnly")
        SetReadOnly(r.Bool(p));
    else if (n == "OnChange")
        OnChange = r.Method<TNotifyEvent>(p);
    else if (n == "AutoSelect")
        SetAutoSelect(r.Bool(p));
    else if (n == "CharCase")
        r.Ident(p);
    else if (IsCosmetic(n))
        return true;
    else
        return TWinControl::ReadProperty(p, r);
    return true;
}

// ---------------------------------------------------------------------------------------------

TCustomCheckBox::TCustomCheckBox(TComponent* owner) : TWinControl(owner) {}

void TCustomCheckBox::SetChecked(bool v) {
    if (v == checked_) return;
    checked_ = v;
    Changed(TControlProperty::Checked);
    if (!Loading()) Click();
}

void TCustomCheckBox::UserClick() {
    if (!EnabledChain()) return;
    Toggle();
}

void TCustomCheckBox::HandleKey(Char key) {
    if (key == U' ') UserClick();
}

bool TCustomCheckBox::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "Checked")
        SetChecked(r.Bool(p));
    else if (n == "State") {
        String s = r.Ident(p);
        if (s == "cbChecked")
            SetChecked(true);
        else if (s == "cbUnchecked")
            SetChecked(false);
        else
            r.Fail(p, "estado desconhecido " + s);
    } else if (IsCosmetic(n))
        return true;
    else
        return TWinControl::ReadProperty(p, r);
    return true;
}

TRadioButton::TRadioButton(TComponent* owner) : TWinControl(owner) {
    SetTabStop(false);
}

void TRadioButton::SetChecked(bool v) {
    if (v == checked_) return;
    checked_ = v;
    SetTabStop(v);
    Changed(TControlProperty::Checked);
    if (!v) return;
    if (TWinControl* p = Parent()) {
        for (int i = 0; i < p->ControlCount(); ++i)
            if (auto* r = dynamic_cast<TRadioButton*>(p->Controls(i)); r && r != this)
                r->SetChecked(false);
    }
    if (!Loading()) Click();
}

void TRadioButton::UserClick() {
    if (!EnabledChain()) return;
    SetChecked(true);
}

void TRadioButton::HandleKey(Char key) {
    if (key == U' ') UserClick();
}

void TRadioButton::HandleKeyDown(Word key, TShiftState shift) {
    if (shift != 0 || !Parent()) return;
    bool forward = key == VK_RIGHT || key == VK_DOWN;
    if (!forward && key != VK_LEFT && key != VK_UP) return;
    std::vector<TRadioButton*> group;
    for (TWinControl* w : Parent()->TabList())
        if (auto* r = dynamic_cast<TRadioButton*>(w); r && (r == this || r->CanFocus()))
            group.push_back(r);
    if (group.size() < 2) return;
    auto at = std::find(group.begin(), group.end(), this) - group.begin();
    auto n = static_cast<long>(group.size());
    TRadioButton* next = group[static_cast<size_t>((at + (forward ? 1 : n - 1)) % n)];
    // As a click on it: the focus first, then the check and its OnClick.
    next->SetFocus();
    if (next->Focused()) next->UserClick();
}

bool TRadioButton::ReadProperty(const DfmProperty& p, TFormReader& r) {
    if (p.name == "Checked") {
        SetChecked(r.Bool(p));
        return true;
    }
    if (IsCosmetic(p.name)) return true;
    return TWinControl::ReadProperty(p, r);
}

// ---------------------------------------------------------------------------------------------

TSpeedButton::TSpeedButton(TComponent* owner) : TWinControl(owner) {
    SetTabStop(false);
}

void TSpeedButton::UserClick() {
    if (!EnabledChain()) return;
    Click();
}

TSpeedButton* SearchButtonOf(TWinControl* edit) {
    if (!edit) return nullptr;
    TComponent* owner = edit->Owner();
    if (!owner) return nullptr;
    TSpeedButton* found = nullptr;
    for (int i = 0; i < owner->ComponentCount(); ++i) {
        auto* b = dynamic_cast<TSpeedButton*>(owner->Components(i));
        if (!b || b->SearchEdit() != edit || !b->Showing() || !b->EnabledChain()) continue;
        // Two buttons may name the same edit: the one beside it wins.
        if (b->Parent() == edit->Parent()) return b;
        if (!found) found = b;
    }
    return found;
}

bool IsDropDownKey(Word key, TShiftState shift) {
    return (key == VK_F4 && shift == 0) || (key == VK_DOWN && shift == ssAlt);
}

bool TSpeedButton::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "Flat")
        Flat = r.Bool(p);
    else if (n == "Glyph.Data") {
        if (p.value.kind != DfmValue::Kind::Binary) r.Fail(p, "dados binários esperados");
        GlyphData = p.value.text;
    } else if (n == "NumGlyphs")
        NumGlyphs = r.Int(p);
    else if (n == "ShortCut")
        ShortCut = r.Str(p);
    else if (n == "GroupIndex" || n == "Down" || n == "AllowAllUp") {
        // Grouped speed buttons are not used; accept the defaults only.
        if (p.value.kind == DfmValue::Kind::Integer ? p.value.integer != 0 : r.Bool(p))
            r.Fail(p, "botões agrupados não são suportados");
    } else if (IsCosmetic(n))
        return true;
    else
        return TWinControl::ReadProperty(p, r);
    return true;
}

#include "vcl/Mask.h"

void RegisterStandardClasses() {
    RegisterComponentClass<TLabel>("TLabel");
    RegisterComponentClass<TGroupBox>("TGroupBox");
    RegisterComponentClass<TPanel>("TPanel");
    RegisterComponentClass<TEdit>("TEdit");
    RegisterComponentClass<TMaskEdit>("TMaskEdit");
    RegisterComponentClass<TCheckBox>("TCheckBox");
    RegisterComponentClass<TRadioButton>("TRadioButton");
    RegisterComponentClass<TSpeedButton>("TSpeedButton");
}
