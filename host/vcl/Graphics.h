#pragma once
// Colours with their symbolic names, and the font a control shows its text in.
#include "rtl/SysUtils.h"

using TColor = int;

// System colours carry the classic 0xFF00xxxx codes; the symbolic name is what the state reports.
constexpr TColor clScrollBar = static_cast<TColor>(0xFF000000);
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000F);
constexpr TColor clWindow = static_cast<TColor>(0xFF000005);
constexpr TColor clWindowText = static_cast<TColor>(0xFF000008);
constexpr TColor clBtnText = static_cast<TColor>(0xFF000012);
constexpr TColor clInfoBk = static_cast<TColor>(0xFF000018);
constexpr TColor clInfoText = static_cast<TColor>(0xFF000017);
constexpr TColor clGrayText = static_cast<TColor>(0xFF000011);
constexpr TColor clHighlight = static_cast<TColor>(0xFF00000D);
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

// "clBtnFace" for a known colour, "$00BBGGRR" otherwise.
String ColorToString(TColor c);
// Accepts a symbolic name or "$hex"; EConvertError otherwise.
TColor StringToColor(const String& s);
// The colour as 0xRRGGBB for painting; system colours get a classic Windows look.
unsigned ColorToRGB(TColor c);

// The picture a button shows when its form definition gives it none: drawn by the toolkit.
enum class TDrawnGlyph { Dots, Search, Calendar };

struct TFont {
    String Name = "MS Sans Serif";
    int Height = -11; // pixels; negative means character height, as in the form definitions
    bool Bold = false;
    TColor Color = clWindowText;
    bool operator==(const TFont&) const = default;
};
