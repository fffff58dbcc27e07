#pragma once
// A data-aware date edit with a calendar button: the text is a date typed under a date mask, or
// empty when no date is entered.
#include "db/DBCtrls.h"
#include "rtl/DateUtils.h"
#include "vcl/EditButton.h"

class TDBDateEditPlus : public TDBEdit, public IEditButton {
public:
    explicit TDBDateEditPlus(TComponent* owner);
    String ClassName() const override { return "TDBDateEditPlus"; }

    // Raises EConvertError for a text that is not a date; an empty box passes.
    void CheckValidDate() const;
    bool HasValidDate() const;
    // The date held by the box; 0 when it is empty.
    TDateTime GetDate() const;
    // Puts a date into the box; it reaches the field when the record is updated from its controls.
    void SetDate(TDateTime date);

    TColor ValidDateColor = clWindowText; // colour of the text while it holds a valid date
    TStrings NomeSemana;                  // weekday names from Sunday
    bool SaveTime = true;
    String GlyphData; // the calendar glyph of the button (hex of a PNG, normal and disabled)
    int NumGlyphs = 1;
    // The weekday of the date held, from NomeSemana; empty without a valid date.
    String WeekdayName() const;

    TColor TextColor() const override;
    TEditButtonKind ButtonKind() const override { return TEditButtonKind::Calendar; }
    const String& ButtonGlyph() const override { return GlyphData; }
    int ButtonNumGlyphs() const override { return NumGlyphs; }

    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;
};
