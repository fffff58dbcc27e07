#pragma once
// The peers of the buttons: check boxes, radio buttons and the glyph buttons that never take the
// focus, and the glyphs they (and an edit's own button) show.
#include <QPixmap>
#include <QPointer>

#include "qt/QtControlPeer.h"

class QShortcut;

class TQtCheckBoxPeer : public TQtControlPeer {
public:
    TQtCheckBoxPeer(IQtFormSite& form, TControl* control, QWidget* parent);

protected:
    void Apply(TControlProperty property) override;
    void ApplyText() override;
    void ApplyChecked();
    void Clicked();
};

class TQtRadioButtonPeer : public TQtCheckBoxPeer {
public:
    TQtRadioButtonPeer(IQtFormSite& form, TControl* control, QWidget* parent);
};

class TQtSpeedButtonPeer : public TQtControlPeer {
public:
    TQtSpeedButtonPeer(IQtFormSite& form, TControl* control, QWidget* parent);
    ~TQtSpeedButtonPeer() override;

protected:
    void ApplyText() override;
    void ApplyGlyph();
    QPointer<QShortcut> shortcut_;
};

// The glyph of a button: the normal image and the disabled one cut from a strip of `numGlyphs`
// images side by side, or the drawn one when the data is empty or unreadable.
struct TQtGlyph {
    QPixmap normal, disabled;
};
TQtGlyph GlyphFromData(const String& hex, int numGlyphs, TDrawnGlyph fallback);
