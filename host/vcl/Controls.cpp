#include "vcl/Controls.h"

#include <algorithm>

#include "vcl/FormReader.h"
#include "vcl/Forms.h"

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
    BeginDestroy();
    if (peer_) peer_->ControlDestroyed();
    if (parent_) parent_->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == parent_) return;
    if (parent == this) throw EInvalidOperation("Um controle não pode ser pai de si mesmo.");
    if (parent_) parent_->RemoveControl(this);
    parent_ = parent;
    if (parent_) parent_->InsertControl(this);
    ParentChanged();
    Changed(TControlProperty::Parent);
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (left == left_ && top == top_ && width == width_ && height == height_) return;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    Changed(TControlProperty::Bounds);
}

void TControl::SetVisible(bool v) {
    if (v == visible_) return;
    visible_ = v;
    Changed(TControlProperty::Visible);
}

void TControl::SetEnabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    Changed(TControlProperty::Enabled);
    InheritedChanged(TControlProperty::Enabled);
}

bool TControl::Showing() const {
    for (const TControl* c = this; c; c = c->parent_)
        if (!c->visible_) return false;
    return true;
}

bool TControl::EnabledChain() const {
    for (const TControl* c = this; c; c = c->parent_)
        if (!c->enabled_) return false;
    return true;
}

TColor TControl::Color() const {
    if (parentColor_ && parent_) return parent_->Color();
    return color_;
}

void TControl::SetColor(TColor c) {
    parentColor_ = false;
    if (c == color_) return;
    color_ = c;
    Changed(TControlProperty::Color);
    InheritedChanged(TControlProperty::Color);
}

void TControl::SetParentColor(bool v) {
    if (v == parentColor_) return;
    parentColor_ = v;
    if (v && parent_) color_ = parent_->Color();
    Changed(TControlProperty::Color);
}

const TFont& TControl::Font() const {
    if (parentFont_ && parent_) return parent_->Font();
    return font_;
}

void TControl::SetFont(const TFont& f) {
    // Taking the parent's font as it stands keeps the other attributes when only one changes.
    parentFont_ = false;
    if (f == font_) return;
    font_ = f;
    Changed(TControlProperty::Font);
    InheritedChanged(TControlProperty::Font);
}

void TControl::SetFontBold(bool bold) {
    TFont f = Font();
    f.Bold = bold;
    bool wasParent = parentFont_;
    SetFont(f);
    if (wasParent) {
        Changed(TControlProperty::Font);
        InheritedChanged(TControlProperty::Font);
    }
}

void TControl::SetParentFont(bool v) {
    if (v == parentFont_) return;
    if (!v) font_ = Font();
    parentFont_ = v;
    Changed(TControlProperty::Font);
    InheritedChanged(TControlProperty::Font);
}

void TControl::SetText(const String& s) {
    if (s == text_) return;
    text_ = s;
    Changed(TControlProperty::Text);
}

void TControl::SetHint(const String& s) {
    if (s == hint_) return;
    hint_ = s;
    Changed(TControlProperty::Hint);
}

bool TControl::ShowHint() const {
    if (parentShowHint_ && parent_) return parent_->ShowHint();
    return showHint_;
}

void TControl::SetShowHint(bool v) {
    parentShowHint_ = false;
    if (v == showHint_) return;
    showHint_ = v;
    Changed(TControlProperty::Hint);
}

void TControl::SetParentShowHint(bool v) {
    if (v == parentShowHint_) return;
    if (!v) showHint_ = ShowHint();
    parentShowHint_ = v;
    Changed(TControlProperty::Hint);
}

void TControl::SetAlignment(TAlignment a) {
    if (a == alignment_) return;
    alignment_ = a;
    Changed(TControlProperty::Alignment);
}

void TControl::SetAutoSize(bool v) {
    if (v == autoSize_) return;
    autoSize_ = v;
    Changed(TControlProperty::Bounds);
}

void TControl::Click() {
    if (OnClick && !Destroying()) OnClick(this);
}

TCustomForm* TControl::ParentForm() const {
    const TControl* c = this;
    while (c->parent_)
        c = c->parent_;
    return dynamic_cast<TCustomForm*>(const_cast<TControl*>(c));
}

void TControl::Changed(TControlProperty property) {
    if (peer_) peer_->PropertyChanged(property);
}

// Tells the children that take the property from this control, and their peers.
void TControl::InheritedChanged(TControlProperty property) {
    auto* w = dynamic_cast<TWinControl*>(this);
    if (!w) return;
    for (TControl* c : w->controls_) {
        bool inherits = (property == TControlProperty::Font && c->parentFont_) ||
                        (property == TControlProperty::Color && c->parentColor_) ||
                        property == TControlProperty::Enabled;
        if (!inherits) continue;
        c->Changed(property);
        c->InheritedChanged(property);
    }
}

namespace {
TAlignment AlignmentOf(const String& s, const DfmProperty& p, TFormReader& r) {
    if (s == "taLeftJustify") return taLeftJustify;
    if (s == "taRightJustify") return taRightJustify;
    if (s == "taCenter") return taCenter;
    r.Fail(p, "alinhamento desconhecido: " + s);
}
} // namespace

bool TControl::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "Left")
        SetLeft(r.Int(p));
    else if (n == "Top")
        SetTop(r.Int(p));
    else if (n == "Width")
        SetWidth(r.Int(p));
    else if (n == "Height")
        SetHeight(r.Int(p));
    else if (n == "Visible")
        SetVisible(r.Bool(p));
    else if (n == "Enabled")
        SetEnabled(r.Bool(p));
    else if (n == "Color")
        SetColor(r.Color(p));
    else if (n == "ParentColor")
        SetParentColor(r.Bool(p));
    else if (n == "Caption" || n == "Text")
        SetText(r.Str(p));
    else if (n == "Hint")
        SetHint(r.Str(p));
    else if (n == "ShowHint")
        SetShowHint(r.Bool(p));
    else if (n == "ParentShowHint")
        SetParentShowHint(r.Bool(p));
    else if (n == "Alignment")
        SetAlignment(AlignmentOf(r.Ident(p), p, r));
    else if (n == "AutoSize")
        SetAutoSize(r.Bool(p));
    else if (n == "ParentFont")
        SetParentFont(r.Bool(p));
    else if (n == "Font.Name" || n == "Font.Height" || n == "Font.Style" || n == "Font.Color" ||
             n == "Font.Charset") {
        TFont f = Font();
        if (n == "Font.Name")
            f.Name = r.Str(p);
        else if (n == "Font.Height")
            f.Height = r.Int(p);
        else if (n == "Font.Color")
            f.Color = r.Color(p);
        else if (n == "Font.Style") {
            f.Bold = false;
            for (const String& s : r.Set(p)) {
                if (s == "fsBold")
                    f.Bold = true;
                else if (s != "fsItalic" && s != "fsUnderline" && s != "fsStrikeOut")
                    r.Fail(p, "estilo de fonte desconhecido: " + s);
            }
        } else {
            r.Ident(p); // the character set has no effect with UTF-8 text
        }
        SetFont(f);
    } else if (n == "Tag")
        Tag = r.Int(p);
    else if (n == "OnClick")
        OnClick = r.Method<TNotifyEvent>(p);
    else
        return TComponent::ReadProperty(p, r);
    return true;
}

void TControl::SetParentComponent(TComponent* parent) {
    auto* w = dynamic_cast<TWinControl*>(parent);
    if (!w)
        throw EComponentError(Name() +
                              " só pode ser colocado dentro de um controle que contém outros.");
    SetParent(w);
}

// ---------------------------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
    BeginDestroy();
    if (TCustomForm* f = ParentForm()) f->ControlDestroying(this);
    for (TControl* c : controls_)
        c->parent_ = nullptr;
    controls_.clear();
    tabList_.clear();
}

bool TWinControl::ContainsControl(const TControl* c) const {
    for (; c; c = c->Parent())
        if (c == this) return true;
    return false;
}

void TWinControl::InsertControl(TControl* c) {
    controls_.push_back(c);
    if (auto* w = dynamic_cast<TWinControl*>(c)) tabList_.push_back(w);
}

void TWinControl::RemoveControl(TControl* c) {
    if (TCustomForm* f = ParentForm())
        if (auto* w = dynamic_cast<TWinControl*>(c)) f->ControlDestroying(w);
    controls_.erase(std::remove(controls_.begin(), controls_.end(), c), controls_.end());
    tabList_.erase(std::remove(tabList_.begin(), tabList_.end(), c), tabList_.end());
}

int TWinControl::TabOrder() const {
    if (!Parent()) return wantedTabOrder_ < 0 ? 0 : wantedTabOrder_;
    const auto& l = Parent()->tabList_;
    auto it = std::find(l.begin(), l.end(), this);
    return it == l.end() ? -1 : static_cast<int>(it - l.begin());
}

void TWinControl::SetTabOrder(int order) {
    wantedTabOrder_ = order;
    // While loading, the orders are applied together at the end, so the reading order does not
    // matter.
    if (Loading() || !Parent()) return;
    auto& l = Parent()->tabList_;
    l.erase(std::remove(l.begin(), l.end(), this), l.end());
    size_t pos = order < 0 ? l.size() : std::min(static_cast<size_t>(order), l.size());
    l.insert(l.begin() + static_cast<long>(pos), this);
    Changed(TControlProperty::TabOrder);
}

void TWinControl::SetTabStop(bool v) {
    if (v == tabStop_) return;
    tabStop_ = v;
    Changed(TControlProperty::TabStop);
}

void TWinControl::Loaded() {
    TControl::Loaded();
    std::stable_sort(tabList_.begin(), tabList_.end(), [](TWinControl* a, TWinControl* b) {
        int oa = a->wantedTabOrder_ < 0 ? 1 << 30 : a->wantedTabOrder_;
        int ob = b->wantedTabOrder_ < 0 ? 1 << 30 : b->wantedTabOrder_;
        return oa < ob;
    });
}

bool TWinControl::CanFocus() const {
    if (!Focusable()) return false;
    TCustomForm* f = ParentForm();
    if (!f) return false;
    return Showing() && EnabledChain();
}

bool TWinControl::Focused() const {
    TCustomForm* f = ParentForm();
    return f && f->ActiveControl() == this;
}

void TWinControl::SetFocus() {
    TCustomForm* f = ParentForm();
    if (!f) throw EInvalidOperation("O controle " + Name() + " não está em um formulário.");
    f->FocusControl(this);
}

void TWinControl::DoEnter() {
    if (OnEnter && !Destroying()) OnEnter(this);
}

void TWinControl::DoExit() {
    if (OnExit && !Destroying()) OnExit(this);
}

void TWinControl::KeyPress(Char& key) {
    if (OnKeyPress && !Destroying()) OnKeyPress(this, key);
}

void TWinControl::KeyDown(Word& key, TShiftState shift) {
    if (OnKeyDown && !Destroying()) OnKeyDown(this, key, shift);
}

bool TWinControl::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "TabOrder")
        SetTabOrder(r.Int(p));
    else if (n == "TabStop")
        SetTabStop(r.Bool(p));
    else if (n == "OnEnter")
        OnEnter = r.Method<TNotifyEvent>(p);
    else if (n == "OnExit")
        OnExit = r.Method<TNotifyEvent>(p);
    else if (n == "OnKeyPress")
        OnKeyPress = r.Method<TKeyPressEvent>(p);
    else if (n == "OnKeyDown")
        OnKeyDown = r.Method<TKeyEvent>(p);
    else
        return TControl::ReadProperty(p, r);
    return true;
}
