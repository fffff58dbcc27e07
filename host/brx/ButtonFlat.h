#pragma once
// The host library's flat glyph button (never takes the focus).
#include "vcl/StdCtrls.h"

class TButtonFlat : public TSpeedButton {
public:
    explicit TButtonFlat(TComponent* owner) : TSpeedButton(owner) { Flat = true; }
    String ClassName() const override { return "TButtonFlat"; }
};
