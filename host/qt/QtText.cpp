#include "qt/QtText.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

int Utf16Pos(const QString& s, int codePoints) {
    int pos = 0;
    for (int n = 0; n < codePoints && pos < s.size(); ++n)
        pos += (s.at(pos).isHighSurrogate() && pos + 1 < s.size()) ? 2 : 1;
    return pos;
}

int CodePointPos(const QString& s, int utf16Pos) {
    int n = 0;
    for (int pos = 0; pos < utf16Pos && pos < s.size(); ++n)
        pos += (s.at(pos).isHighSurrogate() && pos + 1 < s.size()) ? 2 : 1;
    return n;
}

QColor ToQColor(TColor c) {
    unsigned rgb = ColorToRGB(c);
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

QFont ToQFont(const TFont& f) {
    QString family = QStringLiteral("DejaVu Sans");
    if (QString::fromStdString(f.Name).contains(QLatin1String("Courier"), Qt::CaseInsensitive))
        family = QStringLiteral("DejaVu Sans Mono");
    QFont q(family);
    // The classic 8-point face is much narrower than DejaVu Sans: at 80 % of its width (Qt scales
    // the condensed face when installed, the regular one otherwise) the captions fit the widths
    // the form definitions give them, as they did in the classic face.
    if (!family.endsWith(QLatin1String("Mono"))) q.setStretch(80);
    q.setPixelSize(f.Height == 0 ? 11 : std::abs(f.Height));
    q.setBold(f.Bold);
    return q;
}

QString StripMnemonic(const QString& caption) {
    QString out;
    out.reserve(caption.size());
    for (int i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == QLatin1Char('&')) {
            if (i + 1 < caption.size() && caption.at(i + 1) == QLatin1Char('&')) {
                out += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        out += caption.at(i);
    }
    return out;
}

QByteArray HexToBytes(const String& hex) {
    QByteArray compact;
    compact.reserve(static_cast<qsizetype>(hex.size()));
    for (char ch : hex)
        if (!std::isspace(static_cast<unsigned char>(ch))) compact += ch;
    if (compact.size() % 2) return {};
    for (char ch : compact)
        if (!std::isxdigit(static_cast<unsigned char>(ch))) return {};
    return QByteArray::fromHex(compact);
}

double ContrastRatio(const QColor& a, const QColor& b) {
    auto lum = [](const QColor& c) {
        auto ch = [](double v) {
            v /= 255.0;
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * ch(c.red()) + 0.7152 * ch(c.green()) + 0.0722 * ch(c.blue());
    };
    double la = lum(a), lb = lum(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableGrey(const QColor& background) {
    // The palest grey that still reads: 6:1 for the colour, so that the thin anti-aliased
    // strokes of small text keep well over the usual 4.5:1 on screen.
    bool dark = background.lightness() < 128;
    for (int v = dark ? 0x90 : 0x80; v >= 0 && v <= 255; v += dark ? 4 : -4) {
        QColor g(v, v, v);
        if (ContrastRatio(g, background) >= 6.0) return g;
    }
    return dark ? QColor(Qt::white) : QColor(Qt::black);
}
