#include "qt/QtBusyOverlay.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

TQtBusyOverlay::TQtBusyOverlay(QWidget* over, int kind, const QString& text)
    : QWidget(over), kind_(kind), text_(text.isEmpty() ? QStringLiteral("Aguarde...") : text) {
    setObjectName(QStringLiteral("busyOverlay"));
    setAttribute(Qt::WA_NoSystemBackground);
    // The overlay takes the mouse: nothing under it may be clicked while it is shown.
    setFocusPolicy(Qt::NoFocus);
    over->installEventFilter(this);
    setGeometry(over->rect());
    connect(&timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
    timer_.start(80);
}

void TQtBusyOverlay::ShowNow() {
    show();
    raise();
    repaint();
}

bool TQtBusyOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return false;
}

void TQtBusyOverlay::paintEvent(QPaintEvent*) {
    ++paints_;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(0, 0, 0, 60));
    QFontMetrics fm(font());
    int boxW = std::min(width() - 20, std::max(220, fm.horizontalAdvance(text_) + 80));
    QRect box(0, 0, std::max(boxW, 60), 64);
    box.moveCenter(rect().center());
    QPainterPath path;
    path.addRoundedRect(box, 6, 6);
    p.fillPath(path, QColor(0xFF, 0xFF, 0xFF, 235));
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawPath(path);
    QRectF spinner(box.left() + 16, box.center().y() - 14, 28, 28);
    p.setPen(QPen(QColor(0xD0, 0xD0, 0xD0), 4));
    p.drawEllipse(spinner);
    p.setPen(QPen(QColor(0x1E, 0x5A, 0xA8), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(spinner, -angle_ * 16, 100 * 16);
    p.setPen(Qt::black);
    QRect textRect(box.left() + 56, box.top(), box.width() - 64, box.height());
    p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap, text_);
}
