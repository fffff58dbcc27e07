#pragma once
// An edit that can carry an edit mask at run time. EditText is what the user sees; Text is the
// value (without the mask's literals when the mask says not to keep them).
#include "vcl/MaskUtils.h"
#include "vcl/StdCtrls.h"

class TCustomMaskEdit : public TCustomEdit {
public:
    explicit TCustomMaskEdit(TComponent* owner);

    const String& EditMask() const { return mask_.Source(); }
    // A new mask re-enters the text already there: its literals are dropped and the rest fills
    // the new mask's positions in order. Removing the mask leaves the bare value.
    void SetEditMask(const String& mask);
    bool IsMasked() const { return !mask_.IsEmpty(); }

    String Text() const override;
    void SetText(const String& value) override;
    String EditText() const { return TControl::Text(); }
    void SetEditText(const String& editText);
    String DisplayText() const override { return EditText(); }

    void HandleKey(Char key) override;
    void DeleteSelection() override;
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

private:
    TEditMask mask_;
};

class TMaskEdit : public TCustomMaskEdit {
public:
    using TCustomMaskEdit::TCustomMaskEdit;
    String ClassName() const override { return "TMaskEdit"; }
};
