#include "qt/QtPeers.h"

#include <cmath>
#include <functional>

#include <QAbstractButton>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QClipboard>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "qt/QtText.h"
#include "vcl/EditButton.h"
#include "vcl/Forms.h"
#include "vcl/Input.h"
#include "vcl/Mask.h"
#include "vcl/StdCtrls.h"

namespace {
int gPushDepth = 0;
using PushGuard = TQtPushGuard;

TDrawnGlyph DrawnGlyphOf(const IEditButton* b) {
    switch (b->ButtonKind()) {
    case TEditButtonKind::Calendar:
        return TDrawnGlyph::Calendar;
    }
    return TDrawnGlyph::Dots;
}
} // namespace

bool QtPeersPushing() {
    return gPushDepth > 0;
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

TQtPushGuard::TQtPushGuard() {
    ++gPushDepth;
}

TQtPushGuard::~TQtPushGuard() {
    --gPushDepth;
}

TQtControlPeer::TQtControlPeer(IQtFormSite& form, TControl* control, QWidget* widget)
    : form_(form), control_(control), widget_(widget) {
    control_->SetPeer(this);
    widget->setObjectName(ToQ(control->Name()));
    widget->installEventFilter(this);
    widget->setFocusPolicy(FocusTarget() ? Qt::StrongFocus : Qt::NoFocus);
}

TQtControlPeer::~TQtControlPeer() = default;

void TQtControlPeer::PropertyChanged(TControlProperty property) {
    if (!control_ || !widget_) return;
    try {
        PushGuard guard;
        QSignalBlocker block(widget_.data());
        Apply(property);
    } catch (...) {
        // A failing push must not unwind through the model's setter.
    }
}

void TQtControlPeer::ApplyAll() {
    if (!control_ || !widget_) return;
    PushGuard guard;
    QSignalBlocker block(widget_.data());
    ApplyFont();
    ApplyColors();
    ApplyHint();
    ApplyText();
    ApplyBounds();
    widget_->setEnabled(control_->Enabled());
    widget_->setVisible(control_->Visible());
}

void TQtControlPeer::Apply(TControlProperty property) {
    switch (property) {
    case TControlProperty::Bounds:
        ApplyBounds();
        break;
    case TControlProperty::Visible:
        widget_->setVisible(control_->Visible());
        form_.RebuildTabOrder();
        break;
    case TControlProperty::Enabled:
        widget_->setEnabled(control_->Enabled());
        form_.RebuildTabOrder();
        break;
    case TControlProperty::Color:
        ApplyColors();
        // Whether a child paints its own background depends on this colour.
        if (auto* w = dynamic_cast<TWinControl*>(control_))
            for (int i = 0; i < w->ControlCount(); ++i)
                if (TQtControlPeer* p = form_.PeerOf(w->Controls(i)); p && p->widget_) {
                    QSignalBlocker b(p->widget_.data());
                    p->ApplyColors();
                }
        break;
    case TControlProperty::Font: {
        // Children that take the parent's font follow; the model does not tell them.
        std::function<void(TControl*)> apply = [&](TControl* c) {
            if (TQtControlPeer* p = form_.PeerOf(c); p && p->widget_) {
                QSignalBlocker b(p->widget_.data());
                p->ApplyFont();
                p->ApplyColors();
                p->ApplyBounds();
            }
            if (auto* w = dynamic_cast<TWinControl*>(c))
                for (int i = 0; i < w->ControlCount(); ++i)
                    if (w->Controls(i)->ParentFont()) apply(w->Controls(i));
        };
        apply(control_);
        break;
    }
    case TControlProperty::Text:
    case TControlProperty::Alignment:
        ApplyText();
        ApplyBounds();
        break;
    case TControlProperty::Hint:
        ApplyHint();
        break;
    case TControlProperty::Parent:
        form_.Reparent(this);
        break;
    case TControlProperty::TabOrder:
    case TControlProperty::TabStop:
        form_.RebuildTabOrder();
        break;
    case TControlProperty::MaxLength:
    case TControlProperty::ReadOnly:
    case TControlProperty::EditMask:
    case TControlProperty::Selection:
    case TControlProperty::Checked:
        break; // the edit and check box peers take these
    case TControlProperty::ActiveControl:
    case TControlProperty::ZOrder:
    case TControlProperty::WindowState:
        break; // the form's peer takes these
    }
}

void TQtControlPeer::ApplyBounds() {
    widget_->setGeometry(control_->Left(), control_->Top(), control_->Width(), control_->Height());
}

bool TQtControlPeer::FillsBackground() const {
    // Painting the parent's own colour again would hide the parent's shading (a group box's panel).
    if (control_->ParentColor()) return false;
    TWinControl* parent = control_->Parent();
    return !parent || control_->Color() != parent->Color();
}

void TQtControlPeer::ApplyColors() {
    // A fresh palette sets only our roles; the rest still comes from the parent widget.
    QPalette pal;
    if (FillsBackground()) pal.setColor(BackgroundRole(), ToQColor(control_->Color()));
    // The active groups show the model's colour; a disabled control a grey that stays readable
    // on its own background (contrast of at least 4.5:1), not the style's pale grey.
    QColor text = TextColor();
    pal.setColor(QPalette::Active, ForegroundRole(), text);
    pal.setColor(QPalette::Inactive, ForegroundRole(), text);
    QColor under = FillsBackground()    ? ToQColor(control_->Color())
                   : control_->Parent() ? ToQColor(control_->Parent()->Color())
                                        : ToQColor(clBtnFace);
    pal.setColor(QPalette::Disabled, ForegroundRole(), ReadableGrey(under));
    widget_->setPalette(pal);
    widget_->setAutoFillBackground(FillsBackground() && BackgroundRole() == QPalette::Window);
}

QColor TQtControlPeer::TextColor() const {
    return ToQColor(control_->Font().Color);
}

void TQtControlPeer::ApplyFont() {
    widget_->setFont(ToQFont(control_->Font()));
}

void TQtControlPeer::ApplyHint() {
    QString hint = ToQ(control_->Hint());
    // "short|long": the tooltip shows the short part.
    if (int bar = static_cast<int>(hint.indexOf(QLatin1Char('|'))); bar >= 0) hint.truncate(bar);
    // A button the keyboard can reach names its key, since it never takes the focus itself.
    QString key = KeyName();
    if (!hint.isEmpty() && !key.isEmpty()) hint += QStringLiteral(" (%1)").arg(key);
    widget_->setToolTip(control_->ShowHint() ? hint : QString());
}

QString TQtControlPeer::KeyName() const {
    auto* sb = dynamic_cast<TSpeedButton*>(control_);
    if (!sb) return {};
    if (sb->SearchEdit() && SearchButtonOf(sb->SearchEdit()) == sb) return QStringLiteral("F4");
    if (!sb->ShortCut.empty())
        return QKeySequence(ToQ(sb->ShortCut)).toString(QKeySequence::NativeText);
    return {};
}

TWinControl* TQtControlPeer::FocusTarget() const {
    auto* w = dynamic_cast<TWinControl*>(control_);
    return w && w->Focusable() ? w : nullptr;
}

bool TQtControlPeer::AfterInput(bool queuedFocus) {
    form_.AfterInput(queuedFocus);
    return control_ != nullptr;
}

void TQtControlPeer::Detach(bool release) {
    if (release && control_ && control_->Peer() == this) control_->SetPeer(nullptr);
    control_ = nullptr;
    if (widget_) {
        // Hiding a focused widget makes Qt move the focus on its own: not user input.
        TQtPushGuard guard;
        widget_->removeEventFilter(this);
        widget_->hide();
        widget_->deleteLater();
    }
}

bool TQtControlPeer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != widget_ || !control_) return false;
    try {
        TWinControl* target = FocusTarget();
        if (!target) return false;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            TCustomForm* f = form_.Form();
            if (mouseFocusTried_) {
                mouseFocusTried_ = false;
                return !f || f->ActiveControl() != target;
            }
            if (!f || f->ActiveControl() == target) return false;
            UserInput::Focus(target);
            if (!AfterInput(true)) return true;
            // A vetoed move eats the press: the click must not reach the widget.
            return form_.Form() == nullptr || form_.Form()->ActiveControl() != target;
        }
        case QEvent::FocusIn: {
            TCustomForm* f = form_.Form();
            if (!f || f->ActiveControl() == target) return false;
            auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (form_.SettingFocus() || QtPeersPushing() || reason == Qt::ActiveWindowFocusReason ||
                reason == Qt::PopupFocusReason || reason == Qt::MenuBarFocusReason) {
                // Qt moved the focus on its own: the model's ActiveControl stays in charge.
                form_.SyncFocusLater();
                return false;
            }
            UserInput::Focus(target);
            if (reason == Qt::MouseFocusReason) {
                // The press that gave this focus is still on its way: it must not ask again. The
                // reset is queued only now, since the move may have shown a message box whose
                // own event loop would have run it before the press arrived.
                mouseFocusTried_ = true;
                QTimer::singleShot(0, this, [this] { mouseFocusTried_ = false; });
            }
            AfterInput(true);
            return false;
        }
        case QEvent::KeyPress:
            return KeyPressed(static_cast<QKeyEvent*>(event));
        default:
            return false;
        }
    } catch (...) {
        return true;
    }
}

bool TQtControlPeer::KeyPressed(QKeyEvent* e) {
    if ((e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab) &&
        !(e->modifiers() & Qt::ControlModifier)) {
        if (TCustomForm* f = form_.Form()) {
            bool back = e->key() == Qt::Key_Backtab || (e->modifiers() & Qt::ShiftModifier);
            UserInput::Tab(f, back);
            AfterInput();
        }
        return true;
    }
    if (SendKeyDown(e) || SendKeys(e)) return true;
    // Shortcuts with Ctrl or Alt belong to menus and the MDI area; every other key is the model's.
    return !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

namespace {
// The model's code of a key that types no character; 0 for any other key.
Word VirtualKeyOf(int key) {
    switch (key) {
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_Home:
        return VK_HOME;
    case Qt::Key_End:
        return VK_END;
    case Qt::Key_PageUp:
        return VK_PRIOR;
    case Qt::Key_PageDown:
        return VK_NEXT;
    case Qt::Key_F4:
        return VK_F4;
    default:
        return 0;
    }
}

TShiftState ShiftOf(Qt::KeyboardModifiers m) {
    TShiftState s = 0;
    if (m & Qt::ShiftModifier) s |= ssShift;
    if (m & Qt::AltModifier) s |= ssAlt;
    if (m & Qt::ControlModifier) s |= ssCtrl;
    return s;
}
} // namespace

bool TQtControlPeer::SendKeyDown(QKeyEvent* e) {
    Word key = VirtualKeyOf(e->key());
    Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    // Ctrl with these keys belongs to the window (Ctrl+F4 closes the screen).
    if (!key || (mods & (Qt::ControlModifier | Qt::MetaModifier))) return false;
    TWinControl* target = FocusTarget();
    TCustomForm* f = form_.Form();
    if (!target || !f) return false;
    // Keys belong to the control the model has focused; a mismatch is only mirrored.
    if (f->ActiveControl() != target) {
        form_.SyncFocusLater();
        return true;
    }
    UserInput::KeyDown(target, key, ShiftOf(mods));
    AfterInput();
    return true;
}

bool TQtControlPeer::SendKeys(QKeyEvent* e) {
    TWinControl* target = FocusTarget();
    TCustomForm* f = form_.Form();
    if (!target || !f) return false;
    Char special = 0;
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        special = 13;
        break;
    case Qt::Key_Escape:
        special = 27;
        break;
    case Qt::Key_Backspace:
        special = 8;
        break;
    default:
        break;
    }
    std::u32string keys;
    if (special) {
        keys = std::u32string(1, special);
    } else if ((e->modifiers() & Qt::KeypadModifier) &&
               (e->key() == Qt::Key_Period || e->key() == Qt::Key_Comma)) {
        // The keypad's decimal key types the decimal separator, as on a Brazilian keyboard,
        // whatever character the layout gives it: a number typed there keeps its magnitude.
        keys = std::u32string(1, static_cast<char32_t>(FormatSettings().DecimalSeparator));
    } else {
        if (e->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
        for (char32_t ch : e->text().toStdU32String())
            if (ch >= 32 && ch != 127) keys += ch;
        if (keys.empty()) return false;
    }
    for (char32_t ch : keys) {
        // Keys belong to the control the model has focused; a mismatch is only mirrored.
        if (!control_ || !form_.Form() || form_.Form()->ActiveControl() != target) {
            form_.SyncFocusLater();
            break;
        }
        UserInput::Key(target, ch);
        if (!AfterInput()) break;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------------------------

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
    PushGuard guard;
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

TQtGenericPeer::TQtGenericPeer(IQtFormSite& form, TControl* control, QWidget* parent)
    : TQtControlPeer(form, control, new QWidget(parent)) {}

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
