#pragma once
// Conversions between the model's values (UTF-8 texts, code-point positions, colours, fonts) and
// Qt's.
#include <QColor>
#include <QFont>
#include <QString>

#include "vcl/Graphics.h"

inline QString ToQ(const String& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline String FromQ(const QString& s) {
    QByteArray b = s.toUtf8();
    return String(b.constData(), static_cast<size_t>(b.size()));
}

// The model counts characters (code points); QString counts UTF-16 units.
int Utf16Pos(const QString& s, int codePoints);
int CodePointPos(const QString& s, int utf16Pos);

QColor ToQColor(TColor c);

// Every text is drawn in DejaVu Sans (installed with the fonts package), narrowed, at the model's
// pixel height: the classic 8 points at 96 dpi are 11 pixels.
QFont ToQFont(const TFont& f);

// "&Sair" -> "Sair", "P&&D" -> "P&D": the mnemonic marks of a caption shown as plain text.
QString StripMnemonic(const QString& caption);

// Decodes the hex text of a glyph (a PNG, or another image format Qt reads); empty on failure.
QByteArray HexToBytes(const String& hex);

// WCAG contrast ratio of two colours (1 to 21), and a grey readable on `background`.
double ContrastRatio(const QColor& a, const QColor& b);
QColor ReadableGrey(const QColor& background);
