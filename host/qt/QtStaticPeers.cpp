#include "qt/QtStaticPeers.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "qt/QtText.h"

TQtLabelPeer::TQtLabelPeer(IQtFormSite& form, TControl* control, QWidget* parent)
    : TQtControlPeer(form, control, new QLabel(parent)) {
    auto* l = static_cast<QLabel*>(widget_.data());
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(false);
}

void TQtLabelPeer::ApplyText() {
    auto* l = static_cast<QLabel*>(widget_.data());
    l->setText(StripMnemonic(ToQ(control_->Caption())));
    Qt::Alignment h = control_->Alignment() == taRightJustify ? Qt::AlignRight
                      : control_->Alignment() == taCenter     ? Qt::AlignHCenter
                                                              : Qt::AlignLeft;
    l->setAlignment(h | Qt::AlignTop);
    ApplyBounds();
}

void TQtLabelPeer::ApplyBounds() {
    auto* l = static_cast<QLabel*>(widget_.data());
    int width = control_->Width();
    // An auto-sized label grows with its text, as the classic label does, so a caption set at run
    // time (or a wider font) does not clip it.
    if (control_->AutoSize())
        width = std::max(width, l->fontMetrics().horizontalAdvance(l->text()) + 1);
    l->setGeometry(control_->Left(), control_->Top(), width, control_->Height());
}

// ---------------------------------------------------------------------------------------------

namespace {
// The classic group box: an etched frame whose top line runs through the middle of the caption,
// the caption 8 pixels in from the left. The style's own box puts the caption above the frame,
// which takes room the form definitions give to the children.
class TQtGroupBoxWidget : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QFontMetrics fm(font());
        QString caption = StripMnemonic(title());
        int top = caption.isEmpty() ? 0 : fm.height() / 2 - 1;
        QRect frame(0, top, width(), height() - top);
        // The window system's button shadow and highlight.
        p.setPen(Qt::white);
        p.drawRect(frame.adjusted(1, 1, -1, -1));
        p.setPen(QColor(0x80, 0x80, 0x80));
        p.drawRect(frame.adjusted(0, 0, -2, -2));
        if (caption.isEmpty()) return;
        QRect text(8, 0, fm.horizontalAdvance(caption), fm.height());
        p.fillRect(text, palette().color(QPalette::Window));
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::WindowText));
        p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption);
    }
};
} // namespace

TQtGroupBoxPeer::TQtGroupBoxPeer(IQtFormSite& form, TControl* control, QWidget* parent)
    : TQtControlPeer(form, control, new TQtGroupBoxWidget(parent)) {}

void TQtGroupBoxPeer::ApplyText() {
    static_cast<QGroupBox*>(widget_.data())->setTitle(ToQ(control_->Caption()));
}

TQtPanelPeer::TQtPanelPeer(IQtFormSite& form, TControl* control, QWidget* parent)
    : TQtControlPeer(form, control, new QFrame(parent)) {
    auto* frame = static_cast<QFrame*>(widget_.data());
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* caption = new QLabel(frame);
    caption->setObjectName(QStringLiteral("caption"));
    caption->setAlignment(Qt::AlignCenter);
    caption->setTextFormat(Qt::PlainText);
    caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(caption);
}

void TQtPanelPeer::ApplyText() {
    if (auto* caption = widget_->findChild<QLabel*>(QStringLiteral("caption"))) {
        caption->setText(StripMnemonic(ToQ(control_->Caption())));
        caption->lower();
    }
}
