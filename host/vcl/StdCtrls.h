#pragma once
// The standard controls: labels, group boxes, panels, edits, check boxes, radio buttons and the
// flat speed button that never takes the focus.
#include "vcl/Controls.h"

class TLabel : public TControl {
public:
    explicit TLabel(TComponent* owner);
    String ClassName() const override { return "TLabel"; }
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;
    TWinControl* FocusControl = nullptr;
};

class TGroupBox : public TWinControl {
public:
    explicit TGroupBox(TComponent* owner);
    String ClassName() const override { return "TGroupBox"; }
    bool Focusable() const override { return false; }
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;
};

class TPanel : public TWinControl {
public:
    explicit TPanel(TComponent* owner);
    String ClassName() const override { return "TPanel"; }
    bool Focusable() const override { return false; }
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;
    String Align = "alNone";
};

class TCustomEdit : public TWinControl {
public:
    explicit TCustomEdit(TComponent* owner);
    String ClassName() const override { return "TCustomEdit"; }

    void SetText(const String& s) override;
    // What the control shows; a data-aware edit formats its field here.
    virtual String DisplayText() const { return Text(); }
    // The colour the text is shown in: the font's, unless the edit marks its content (a date edit
    // shows a valid date in a colour of its own). It may change with the text.
    virtual TColor TextColor() const { return Font().Color; }
    int MaxLength() const { return maxLength_; }
    virtual void SetMaxLength(int n);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v);
    int SelStart() const { return selStart_; }
    int SelLength() const { return selLength_; }
    void SetSelStart(int pos);
    void SetSelLength(int len);
    void SelectAll();
    void Clear() { SetText(""); }
    // Select the whole text when the focus arrives other than by a click (on by default).
    bool AutoSelect() const { return autoSelect_; }
    void SetAutoSelect(bool v) { autoSelect_ = v; }
    void DoEnter() override;

    TNotifyEvent OnChange;
    virtual void Change();

    void HandleKey(Char key) override;
    // Left, Right, Home and End move the caret; F4 or Alt+Down clicks the edit's search button.
    void HandleKeyDown(Word key, TShiftState shift) override;
    // Deletes the selection as the Delete key does.
    virtual void DeleteSelection();
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

protected:
    // Asked before the user changes the text; a data-aware edit starts the edit of its record here.
    virtual bool EditCanModify() { return !readOnly_; }
    // Replaces the shown text as the user's typing does: OnChange runs when it differs.
    void ReplaceText(const String& s, int cursor);
    void ClampSelection();

private:
    int maxLength_ = 0;
    bool readOnly_ = false;
    int selStart_ = 0, selLength_ = 0;
    bool autoSelect_ = true;
};

class TEdit : public TCustomEdit {
public:
    using TCustomEdit::TCustomEdit;
    String ClassName() const override { return "TEdit"; }
};

class TCustomCheckBox : public TWinControl {
public:
    explicit TCustomCheckBox(TComponent* owner);
    bool Checked() const { return checked_; }
    // Runs OnClick when the state changes, whoever changes it.
    virtual void SetChecked(bool v);
    void UserClick() override;
    void HandleKey(Char key) override;
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

protected:
    virtual void Toggle() { SetChecked(!checked_); }

private:
    bool checked_ = false;
};

class TCheckBox : public TCustomCheckBox {
public:
    using TCustomCheckBox::TCustomCheckBox;
    String ClassName() const override { return "TCheckBox"; }
};

class TRadioButton : public TWinControl {
public:
    explicit TRadioButton(TComponent* owner);
    String ClassName() const override { return "TRadioButton"; }
    bool Checked() const { return checked_; }
    // Checking unchecks the sibling radio buttons and runs OnClick; only the checked button of a
    // group is a tab stop.
    void SetChecked(bool v);
    void UserClick() override;
    void HandleKey(Char key) override;
    // The arrow keys move to the previous or next button of the group (its parent), wrapping
    // around, and check it as a click does.
    void HandleKeyDown(Word key, TShiftState shift) override;
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

private:
    bool checked_ = false;
};

// A button drawn with a glyph. It never takes the focus, but it holds its place in its parent's tab
// order, so the tab positions of the controls around it read as designed.
class TSpeedButton : public TWinControl {
public:
    explicit TSpeedButton(TComponent* owner);
    String ClassName() const override { return "TSpeedButton"; }
    bool Focusable() const override { return false; }
    void UserClick() override;
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;
    bool Flat = false;
    // The glyph image as stored in the form definition (hex of a PNG; with two glyphs the normal
    // one on the left and the disabled one on the right).
    String GlyphData;
    int NumGlyphs = 1;
    // A key that clicks the button from anywhere in its form ("Ctrl+S"), since it never has the
    // focus; empty for none.
    String ShortCut;
    // What the button shows without GlyphData.
    virtual TDrawnGlyph DrawnGlyph() const { return TDrawnGlyph::Dots; }
    // The edit whose search this button opens (F4 in that edit clicks it); null for a plain button.
    virtual TWinControl* SearchEdit() const { return nullptr; }
};

// The enabled, showing button whose SearchEdit is `edit` (the one in the same container when two
// name it), or null: what F4 in that edit clicks.
TSpeedButton* SearchButtonOf(TWinControl* edit);
// F4, or Alt+Down: the key that opens a list or a calendar.
bool IsDropDownKey(Word key, TShiftState shift);

void RegisterStandardClasses();
