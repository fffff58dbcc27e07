#pragma once
// An edit that carries a button of its own inside its right edge, as a date edit carries its
// calendar. Implemented by edits (TCustomEdit descendants) only. The peer draws the button; a click
// on it, or F4 in the edit, focuses the edit through the input door and opens the picker the kind
// names; what the user picks there is typed into the edit through the same door.
#include "rtl/SysUtils.h"

enum class TEditButtonKind { Calendar };

class IEditButton {
public:
    virtual ~IEditButton() = default;
    virtual TEditButtonKind ButtonKind() const = 0;
    // The button's picture as the form definition stores it (hex of an image strip of
    // ButtonNumGlyphs images: the normal one, then the disabled one); empty for the drawn one.
    virtual const String& ButtonGlyph() const = 0;
    virtual int ButtonNumGlyphs() const = 0;
};
