#include "vcl/Graphics.h"

#include <cstdio>
#include <utility>

namespace {
const std::pair<TColor, const char*> kColorNames[] = {
    {clScrollBar, "clScrollBar"}, {clBtnFace, "clBtnFace"},
    {clWindow, "clWindow"},       {clWindowText, "clWindowText"},
    {clBtnText, "clBtnText"},     {clInfoBk, "clInfoBk"},
    {clInfoText, "clInfoText"},   {clGrayText, "clGrayText"},
    {clHighlight, "clHighlight"}, {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},       {clGreen, "clGreen"},
    {clNavy, "clNavy"},           {clGray, "clGray"},
    {clSilver, "clSilver"},       {clRed, "clRed"},
    {clLime, "clLime"},           {clYellow, "clYellow"},
    {clBlue, "clBlue"},           {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},           {clWhite, "clWhite"},
};
} // namespace

String ColorToString(TColor c) {
    for (const auto& [value, name] : kColorNames)
        if (value == c) return name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%08X", static_cast<unsigned>(c));
    return buf;
}

TColor StringToColor(const String& s) {
    for (const auto& [value, name] : kColorNames)
        if (s == name) return value;
    if (s.size() > 1 && s[0] == '$') {
        try {
            size_t used = 0;
            unsigned long v = std::stoul(s.substr(1), &used, 16);
            if (used == s.size() - 1 && v <= 0xFFFFFFFFul) return static_cast<TColor>(v);
        } catch (const std::exception&) {
        }
    }
    throw EConvertError("'" + s + "' não é uma cor válida");
}

unsigned ColorToRGB(TColor c) {
    switch (c) {
    case clBtnFace:
        return 0xD4D0C8;
    case clWindow:
        return 0xFFFFFF;
    case clWindowText:
        return 0x000000;
    case clBtnText:
        return 0x000000;
    case clInfoBk:
        return 0xFFFFE1;
    case clInfoText:
        return 0x000000;
    case clGrayText:
        return 0x808080;
    case clHighlight:
        return 0x0A246A;
    case clScrollBar:
        return 0xD4D0C8;
    default:
        break;
    }
    unsigned v = static_cast<unsigned>(c) & 0xFFFFFF;
    // Stored as $00BBGGRR.
    return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}
