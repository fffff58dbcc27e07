#pragma once
// Visual controls: TControl (position, state, caption) and TWinControl (children, focus, keys).
#include <vector>

#include "vcl/Classes.h"
#include "vcl/Graphics.h"

class TWinControl;
class TCustomForm;
class TFormReader;
struct DfmProperty;

// What changed in a control, as pushed to its peer. The list is closed: a peer's dispatch names
// every member and has no default, so the compiler points at any peer a new member would miss.
enum class TControlProperty {
    Parent,
    Bounds,
    Visible,
    Enabled,
    Color,
    Font,
    Text,
    Alignment,
    Hint,
    TabOrder,
    TabStop,
    // Edits
    MaxLength,
    ReadOnly,
    EditMask,
    Selection,
    // Check boxes and radio buttons
    Checked,
    // Forms
    ActiveControl,
    ZOrder,
    WindowState,
};

// The toolkit side of a control. The model pushes every change; the peer reads what it needs back
// from the model. Pushing never calls back into the model.
class IControlPeer {
public:
    virtual ~IControlPeer() = default;
    virtual void PropertyChanged(TControlProperty property) = 0;
    // The control is being freed; the peer must not read it any more.
    virtual void ControlDestroyed() {}
};

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;
    String ClassName() const override { return "TControl"; }

    TWinControl* Parent() const { return parent_; }
    virtual void SetParent(TWinControl* parent);

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    virtual void SetBounds(int left, int top, int width, int height);

    bool Visible() const { return visible_; }
    void SetVisible(bool v);
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool v);
    // Visible and enabled, and so are all its parents.
    bool Showing() const;
    bool EnabledChain() const;

    // The parent's colour while ParentColor is on.
    TColor Color() const;
    void SetColor(TColor c);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool v);

    // The font in effect: the parent's while ParentFont is on.
    const TFont& Font() const;
    void SetFont(const TFont& f);
    void SetFontBold(bool bold);
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool v);

    const String& Caption() const { return text_; }
    void SetCaption(const String& s) { SetText(s); }
    virtual String Text() const { return text_; }
    virtual void SetText(const String& s);

    const String& Hint() const { return hint_; }
    void SetHint(const String& s);
    bool ShowHint() const;
    void SetShowHint(bool v);
    bool ParentShowHint() const { return parentShowHint_; }
    void SetParentShowHint(bool v);

    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment a);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool v);

    TNotifyEvent OnClick;
    // Runs OnClick. Programmatic state changes of check boxes and radio buttons call it too.
    virtual void Click();
    // A click by the user (mouse or space bar); the control decides what it means.
    virtual void UserClick() { Click(); }

    TCustomForm* ParentForm() const;

    // Set by the host's SetChildEnabled when it switched the control off, so it switches back on
    // only the controls it switched off itself.
    bool DisabledWithContainer() const { return disabledWithContainer_; }
    void SetDisabledWithContainer(bool v) { disabledWithContainer_ = v; }

    IControlPeer* Peer() const { return peer_; }
    void SetPeer(IControlPeer* peer) { peer_ = peer; }

    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;
    void SetParentComponent(TComponent* parent) override;

protected:
    void Changed(TControlProperty property);
    virtual void ParentChanged() {}
    // Fired to children when an inherited property (font, colour, enabled) changes above them.
    virtual void InheritedChanged(TControlProperty property);
    void SetTextSilently(const String& s) { text_ = s; }

private:
    TWinControl* parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true, enabled_ = true;
    TColor color_ = clBtnFace;
    bool parentColor_ = false;
    TFont font_;
    bool parentFont_ = true;
    String text_;
    String hint_;
    bool showHint_ = false, parentShowHint_ = true;
    TAlignment alignment_ = taLeftJustify;
    bool autoSize_ = true;
    IControlPeer* peer_ = nullptr;
    bool disabledWithContainer_ = false;
    friend class TWinControl;
};

// A control that can hold the focus and contain other controls.
class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;
    String ClassName() const override { return "TWinControl"; }

    int ControlCount() const { return static_cast<int>(controls_.size()); }
    TControl* Controls(int i) const { return controls_.at(i); }
    bool ContainsControl(const TControl* c) const;

    int TabOrder() const;
    void SetTabOrder(int order);
    bool TabStop() const { return tabStop_; }
    void SetTabStop(bool v);
    // The child windowed controls in tab order.
    const std::vector<TWinControl*>& TabList() const { return tabList_; }

    // Whether this kind of control takes the focus at all (containers do not).
    virtual bool Focusable() const { return true; }
    bool CanFocus() const;
    bool Focused() const;
    // Moves the focus here through the form, running exit and enter events.
    void SetFocus();

    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    TKeyPressEvent OnKeyPress;
    TKeyEvent OnKeyDown;
    virtual void DoEnter();
    virtual void DoExit();
    // The control's key filter: runs OnKeyPress; key 0 means discarded.
    virtual void KeyPress(Char& key);
    // What the control does with a key that passed every filter.
    virtual void HandleKey(Char) {}
    // The same for a key that types no character (arrows, Home, F4): OnKeyDown first, then the
    // control's own handling unless the handler took the key.
    virtual void KeyDown(Word& key, TShiftState shift);
    virtual void HandleKeyDown(Word, TShiftState) {}

    void Loaded() override;
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

private:
    void InsertControl(TControl* c);
    void RemoveControl(TControl* c);
    std::vector<TControl*> controls_;
    std::vector<TWinControl*> tabList_;
    bool tabStop_ = true;
    int wantedTabOrder_ = -1;
    friend class TControl;
};
