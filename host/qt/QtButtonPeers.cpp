#include "qt/QtButtonPeers.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QImage>
#include <QPainter>
#include <QRadioButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QToolButton>

#include "qt/QtText.h"
#include "vcl/Input.h"
#include "vcl/StdCtrls.h"

TQtCheckBoxPeer::TQtCheckBoxPeer(IQtFormSite& form, TControl* control, QWidget* parent)
    : TQtControlPeer(form, control,
                     dynamic_cast<TRadioButton*>(control)
                         ? static_cast<QWidget*>(new QRadioButton(parent))
                         : new QCheckBox(parent)) {
    auto* b = static_cast<QAbstractButton*>(widget_.data());
    // The model keeps radio groups exclusive; Qt's own exclusivity would refuse its pushes.
    b->setAutoExclusive(false);
    connect(b, &QAbstractButton::clicked, this, [this] {
        try {
            Clicked();
        } catch (...) {
        }
    });
}

void TQtCheckBoxPeer::Apply(TControlProperty property) {
    if (property == TControlProperty::Checked)
        ApplyChecked();
    else
        TQtControlPeer::Apply(property);
}

void TQtCheckBoxPeer::ApplyText() {
    static_cast<QAbstractButton*>(widget_.data())->setText(ToQ(control_->Caption()));
    ApplyChecked();
}

void TQtCheckBoxPeer::ApplyChecked() {
    bool checked = false;
    if (auto* c = dynamic_cast<TCustomCheckBox*>(control_))
        checked = c->Checked();
    else if (auto* r = dynamic_cast<TRadioButton*>(control_))
        checked = r->Checked();
    auto* b = static_cast<QAbstractButton*>(widget_.data());
    if (b->isChecked() != checked) b->setChecked(checked);
}

void TQtCheckBoxPeer::Clicked() {
    if (!control_) return;
    // Qt has already toggled the widget; the model decides and the widget shows its verdict.
    UserInput::Click(control_);
    if (!AfterInput() || !widget_) return;
    TQtPushGuard guard;
    QSignalBlocker block(widget_.data());
    ApplyChecked();
}

TQtRadioButtonPeer::TQtRadioButtonPeer(IQtFormSite& form, TControl* control, QWidget* parent)
    : TQtCheckBoxPeer(form, control, parent) {}

// ---------------------------------------------------------------------------------------------

TQtSpeedButtonPeer::TQtSpeedButtonPeer(IQtFormSite& form, TControl* control, QWidget* parent)
    : TQtControlPeer(form, control, new QToolButton(parent)) {
    auto* b = static_cast<QToolButton*>(widget_.data());
    b->setFocusPolicy(Qt::NoFocus);
    auto click = [this] {
        try {
            if (!control_ || !control_->Showing() || !control_->EnabledChain()) return;
            UserInput::Click(control_);
            AfterInput();
        } catch (...) {
        }
    };
    connect(b, &QToolButton::clicked, this, click);
    auto* sb = dynamic_cast<TSpeedButton*>(control);
    if (sb && !sb->ShortCut.empty() && form.Client()) {
        // Anywhere in the form's window; the model decides whether the button works now.
        auto* key = new QShortcut(QKeySequence(ToQ(sb->ShortCut)), form.Client());
        key->setObjectName(widget_->objectName() + QStringLiteral("Key"));
        key->setContext(Qt::WidgetWithChildrenShortcut);
        connect(key, &QShortcut::activated, this, click);
        shortcut_ = key;
    }
}

TQtSpeedButtonPeer::~TQtSpeedButtonPeer() {
    delete shortcut_.data();
}

void TQtSpeedButtonPeer::ApplyText() {
    auto* b = static_cast<QToolButton*>(widget_.data());
    auto* sb = dynamic_cast<TSpeedButton*>(control_);
    b->setAutoRaise(sb && sb->Flat);
    b->setText(ToQ(control_->Caption()));
    ApplyGlyph();
}

void TQtSpeedButtonPeer::ApplyGlyph() {
    auto* b = static_cast<QToolButton*>(widget_.data());
    auto* sb = dynamic_cast<TSpeedButton*>(control_);
    if (!sb) return;
    bool hasCaption = !control_->Caption().empty();
    if (sb->GlyphData.empty() && hasCaption) {
        b->setIcon(QIcon());
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        return;
    }
    TQtGlyph g = GlyphFromData(sb->GlyphData, sb->NumGlyphs, sb->DrawnGlyph());
    QIcon icon(g.normal);
    icon.addPixmap(g.disabled, QIcon::Disabled);
    b->setIcon(icon);
    b->setIconSize(g.normal.size());
    b->setToolButtonStyle(hasCaption ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
}

// ---------------------------------------------------------------------------------------------

namespace {
QPixmap DrawFallback(TDrawnGlyph kind, bool disabled) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QColor ink = disabled ? QColor(0x80, 0x80, 0x80) : QColor(0x20, 0x20, 0x20);
    switch (kind) {
    case TDrawnGlyph::Search:
        p.setPen(QPen(ink, 2));
        p.drawEllipse(QRectF(2, 2, 8, 8));
        p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
        break;
    case TDrawnGlyph::Calendar:
        p.setPen(QPen(ink, 1));
        p.setBrush(disabled ? QColor(0xE0, 0xE0, 0xE0) : QColor(Qt::white));
        p.drawRect(QRectF(1.5, 2.5, 13, 12));
        p.fillRect(QRectF(2, 3, 12, 3),
                   disabled ? QColor(0xA0, 0xA0, 0xA0) : QColor(0xC0, 0x20, 0x20));
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c)
                p.fillRect(QRectF(3 + c * 3, 7.5 + r * 2.3, 1.6, 1.4), ink);
        break;
    case TDrawnGlyph::Dots:
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QRectF(2 + i * 4.5, 7, 2.5, 2.5));
        break;
    }
    return pm;
}
} // namespace

TQtGlyph GlyphFromData(const String& hex, int numGlyphs, TDrawnGlyph fallback) {
    QByteArray bytes = HexToBytes(hex);
    QImage strip;
    if (!bytes.isEmpty() && !strip.loadFromData(bytes) && bytes.size() > 4)
        strip.loadFromData(bytes.mid(4)); // a stored bitmap may carry its size in front
    if (strip.isNull()) return {DrawFallback(fallback, false), DrawFallback(fallback, true)};
    int n = std::max(numGlyphs, 1);
    int w = strip.width() / n;
    if (w <= 0) return {DrawFallback(fallback, false), DrawFallback(fallback, true)};
    TQtGlyph g;
    g.normal = QPixmap::fromImage(strip.copy(0, 0, w, strip.height()));
    if (n >= 2) {
        g.disabled = QPixmap::fromImage(strip.copy(w, 0, w, strip.height()));
    } else {
        QImage grey = strip.copy(0, 0, w, strip.height()).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < grey.height(); ++y)
            for (int x = 0; x < grey.width(); ++x) {
                QColor c = grey.pixelColor(x, y);
                int v = (qGray(c.rgb()) + 255) / 2;
                grey.setPixelColor(x, y, QColor(v, v, v, c.alpha()));
            }
        g.disabled = QPixmap::fromImage(grey);
    }
    return g;
}
