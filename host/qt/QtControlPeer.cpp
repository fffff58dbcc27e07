#include "qt/QtControlPeer.h"

#include <functional>

#include <QFocusEvent>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QTimer>

#include "qt/QtText.h"
#include "vcl/Forms.h"
#include "vcl/Input.h"
#include "vcl/StdCtrls.h"

namespace {
int gPushDepth = 0;
} // namespace

bool QtPeersPushing() {
    return gPushDepth > 0;
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
        TQtPushGuard guard;
        QSignalBlocker block(widget_.data());
        Apply(property);
    } catch (...) {
        // A failing push must not unwind through the model's setter.
    }
}

void TQtControlPeer::ApplyAll() {
    if (!control_ || !widget_) return;
    TQtPushGuard guard;
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

TQtGenericPeer::TQtGenericPeer(IQtFormSite& form, TControl* control, QWidget* parent)
    : TQtControlPeer(form, control, new QWidget(parent)) {}
