#include "qt/QtEditPeers.h"

#include <QCalendarWidget>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QScreen>

#include "qt/QtButtonPeers.h"
#include "qt/QtText.h"
#include "vcl/EditButton.h"
#include "vcl/Forms.h"
#include "vcl/Input.h"
#include "vcl/StdCtrls.h"

namespace {
TDrawnGlyph DrawnGlyphOf(const IEditButton* b) {
    switch (b->ButtonKind()) {
    case TEditButtonKind::Calendar:
        return TDrawnGlyph::Calendar;
    }
    return TDrawnGlyph::Dots;
}
} // namespace

TQtEditPeer::TQtEditPeer(IQtFormSite& form, TControl* control, QWidget* parent)
    : TQtControlPeer(form, control, new QLineEdit(parent)) {
    QLineEdit* le = LineEdit();
    // Every change goes through the model: no undo, context menu, drops or input method.
    le->setContextMenuPolicy(Qt::NoContextMenu);
    le->setAcceptDrops(false);
    le->setAttribute(Qt::WA_InputMethodEnabled, false);
    le->setFrame(true);
    connect(le, &QLineEdit::cursorPositionChanged, this, [this] { MirrorSelection(); });
    connect(le, &QLineEdit::selectionChanged, this, [this] { MirrorSelection(); });
}

QLineEdit* TQtEditPeer::LineEdit() const {
    return static_cast<QLineEdit*>(widget_.data());
}

TCustomEdit* TQtEditPeer::EditControl() const {
    return dynamic_cast<TCustomEdit*>(control_);
}

void TQtEditPeer::Apply(TControlProperty property) {
    switch (property) {
    case TControlProperty::Selection:
        if (!mirroring_) ApplySelection();
        return;
    case TControlProperty::MaxLength:
    case TControlProperty::EditMask:
        ApplyText();
        return;
    case TControlProperty::ReadOnly:
        LineEdit()->setReadOnly(EditControl()->ReadOnly());
        return;
    default:
        TQtControlPeer::Apply(property);
        return;
    }
}

void TQtEditPeer::ApplyText() {
    TCustomEdit* e = EditControl();
    QLineEdit* le = LineEdit();
    QString shown = ToQ(e->DisplayText());
    // The model enforces the greatest length; the widget's only mirrors it and never cuts what the
    // model shows (a masked or formatted text may be longer).
    int max = e->MaxLength() > 0 ? std::max(e->MaxLength(), static_cast<int>(shown.size())) : 32767;
    le->setMaxLength(max);
    le->setReadOnly(e->ReadOnly());
    Qt::Alignment h = e->Alignment() == taRightJustify ? Qt::AlignRight
                      : e->Alignment() == taCenter     ? Qt::AlignHCenter
                                                       : Qt::AlignLeft;
    le->setAlignment(h | Qt::AlignVCenter);
    if (le->text() != shown) le->setText(shown);
    // The text's colour may go with what it holds (a valid date).
    if (le->palette().color(QPalette::Active, ForegroundRole()) != TextColor()) ApplyColors();
    ApplySelection();
}

QColor TQtEditPeer::TextColor() const {
    return ToQColor(EditControl()->TextColor());
}

void TQtEditPeer::ApplySelection() {
    TCustomEdit* e = EditControl();
    QLineEdit* le = LineEdit();
    if (!e->Focused()) {
        // Without the focus the text is shown from its start.
        if (le->hasSelectedText()) le->deselect();
        le->setCursorPosition(0);
        return;
    }
    const QString t = le->text();
    int start = Utf16Pos(t, e->SelStart());
    int len = Utf16Pos(t, e->SelStart() + e->SelLength()) - start;
    int curStart = le->hasSelectedText() ? le->selectionStart() : le->cursorPosition();
    int curLen = le->hasSelectedText() ? static_cast<int>(le->selectedText().size()) : 0;
    if (curStart == start && curLen == len)
        return; // keeps the direction of a selection in progress
    if (len > 0)
        le->setSelection(start, len);
    else
        le->setCursorPosition(start);
}

void TQtEditPeer::MirrorSelection() {
    TCustomEdit* e = EditControl();
    QLineEdit* le = LineEdit();
    if (!e || !le || mirroring_ || QtPeersPushing() || !le->hasFocus() || !e->Focused()) return;
    try {
        const QString t = le->text();
        int s = le->hasSelectedText() ? le->selectionStart() : le->cursorPosition();
        int l = le->hasSelectedText() ? static_cast<int>(le->selectedText().size()) : 0;
        int start = CodePointPos(t, s), len = CodePointPos(t, s + l) - start;
        if (start == e->SelStart() && len == e->SelLength()) return;
        mirroring_ = true;
        UserInput::Select(e, start, len);
        mirroring_ = false;
    } catch (...) {
        mirroring_ = false;
    }
}

void TQtEditPeer::DeleteKey() {
    TCustomEdit* e = EditControl();
    if (!e || !e->Focused()) return;
    UserInput::DeleteForward(e);
    AfterInput();
}

void TQtEditPeer::Paste() {
    TCustomEdit* e = EditControl();
    if (!e || !e->Focused()) return;
    UserInput::Paste(e, FromQ(QGuiApplication::clipboard()->text()));
    AfterInput();
}

void TQtEditPeer::OpenSearch() {
    TWinControl* target = FocusTarget();
    TCustomForm* f = form_.Form();
    if (!target || !f || f->ActiveControl() != target) return;
    UserInput::KeyDown(target, VK_F4);
    AfterInput();
}

bool TQtEditPeer::KeyPressed(QKeyEvent* e) {
    Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if ((e->key() == Qt::Key_F4 && mods == Qt::NoModifier) ||
        (e->key() == Qt::Key_Down && mods == Qt::AltModifier)) {
        OpenSearch();
        return true;
    }
    switch (e->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
        // Caret moves are the widget's; MirrorSelection copies them into the model.
        return false;
    case Qt::Key_Delete:
        if (e->modifiers() & Qt::ShiftModifier) break;
        DeleteKey();
        return true;
    default:
        break;
    }
    if (e->matches(QKeySequence::SelectAll) || e->matches(QKeySequence::Copy)) return false;
    if (e->matches(QKeySequence::Paste)) {
        Paste();
        return true;
    }
    if (e->matches(QKeySequence::Cut)) {
        if (LineEdit()->hasSelectedText()) {
            QGuiApplication::clipboard()->setText(LineEdit()->selectedText());
            DeleteKey();
        }
        return true;
    }
    TQtControlPeer::KeyPressed(e);
    // Whatever the model did not take stays out of the widget: undo, redo, Insert and the like
    // would change the text behind the model's back. Shortcuts were matched before this event.
    return true;
}

// ---------------------------------------------------------------------------------------------

TQtButtonEditPeer::TQtButtonEditPeer(IQtFormSite& form, TControl* control, QWidget* parent)
    : TQtEditPeer(form, control, parent) {
    button_ = new QToolButton(LineEdit());
    button_->setObjectName(QStringLiteral("calendar"));
    button_->setFocusPolicy(Qt::NoFocus);
    button_->setCursor(Qt::ArrowCursor);
    button_->setAutoRaise(true);
    auto* b = dynamic_cast<IEditButton*>(control);
    TQtGlyph g = b ? GlyphFromData(b->ButtonGlyph(), b->ButtonNumGlyphs(), DrawnGlyphOf(b))
                   : GlyphFromData({}, 1, TDrawnGlyph::Dots);
    QIcon icon(g.normal);
    icon.addPixmap(g.disabled, QIcon::Disabled);
    button_->setIcon(icon);
    button_->setIconSize(QSize(16, 16));
    connect(button_, &QToolButton::clicked, this, [this] {
        try {
            OpenSearch();
        } catch (...) {
        }
    });
}

void TQtButtonEditPeer::ApplyBounds() {
    TQtEditPeer::ApplyBounds();
    PlaceButton();
}

void TQtButtonEditPeer::OpenSearch() {
    auto* b = dynamic_cast<IEditButton*>(control_);
    if (!b) return;
    switch (b->ButtonKind()) {
    case TEditButtonKind::Calendar:
        OpenCalendar();
        return;
    }
}

void TQtButtonEditPeer::PlaceButton() {
    if (!button_) return;
    int h = std::max(control_->Height() - 4, 8);
    int w = std::min(h, 20);
    button_->setGeometry(control_->Width() - w - 2, 2, w, h);
    LineEdit()->setTextMargins(0, 0, w, 0);
}

QCalendarWidget* TQtButtonEditPeer::OpenCalendar() {
    auto* e = EditControl();
    TCustomForm* f = form_.Form();
    if (!e || !f || !e->EnabledChain()) return nullptr;
    if (f->ActiveControl() != e) {
        UserInput::Focus(e);
        if (!AfterInput() || form_.Form()->ActiveControl() != e) return nullptr;
    }
    auto* popup = new QCalendarWidget(LineEdit());
    popup->setObjectName(QStringLiteral("calendarPopup"));
    popup->setWindowFlags(Qt::Popup);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    // The clerk's calendar: Portuguese month and day names, weeks from Sunday, no ISO weeks.
    popup->setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    popup->setFirstDayOfWeek(Qt::Sunday);
    popup->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    popup->setHorizontalHeaderFormat(QCalendarWidget::ShortDayNames);
    popup->setGridVisible(true);
    QDate current = QDate::fromString(LineEdit()->text().trimmed(), QStringLiteral("dd/MM/yyyy"));
    popup->setSelectedDate(current.isValid() ? current : QDate::currentDate());
    QPointer<QCalendarWidget> guard(popup);
    auto choose = [this, guard](const QDate& d) {
        if (guard) guard->close();
        auto* edit = EditControl();
        if (!edit || !edit->Focused()) return;
        // The chosen date is typed as the user would type it, so masks and events apply.
        UserInput::ClearText(edit);
        if (!AfterInput()) return;
        UserInput::TypeText(edit, FromQ(d.toString(QStringLiteral("dd/MM/yyyy"))));
        AfterInput();
    };
    // A click on a day, or Enter on the day the arrows reached.
    connect(popup, &QCalendarWidget::clicked, this, choose);
    connect(popup, &QCalendarWidget::activated, this, choose);
    popup->adjustSize();
    QPoint at = LineEdit()->mapToGlobal(QPoint(0, LineEdit()->height()));
    if (QScreen* sc = LineEdit()->screen()) {
        // Above the box when there is no room below it.
        QRect avail = sc->availableGeometry();
        if (at.y() + popup->height() > avail.bottom())
            at.setY(LineEdit()->mapToGlobal(QPoint(0, 0)).y() - popup->height());
        at.setX(std::clamp(at.x(), avail.left(),
                           std::max(avail.left(), avail.right() - popup->width())));
    }
    popup->move(at);
    popup->show();
    // The keys go to the month's grid at once.
    popup->setFocus(Qt::PopupFocusReason);
    return popup;
}
