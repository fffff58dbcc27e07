#include "qt/QtFormPeer.h"

#include <set>

#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>

#include "qt/QtEditPeers.h"
#include "qt/QtText.h"
#include "vcl/Input.h"

namespace {
void CollectTree(const TWinControl* w, std::set<const TControl*>& out) {
    for (int i = 0; i < w->ControlCount(); ++i) {
        TControl* c = w->Controls(i);
        out.insert(c);
        if (auto* cw = dynamic_cast<TWinControl*>(c)) CollectTree(cw, out);
    }
}

Qt::WindowStates ToQtState(TWindowState s) {
    switch (s) {
    case wsMinimized:
        return Qt::WindowMinimized;
    case wsMaximized:
        return Qt::WindowMaximized;
    default:
        return Qt::WindowNoState;
    }
}

TWindowState FromQtState(Qt::WindowStates s) {
    if (s & Qt::WindowMinimized) return wsMinimized;
    if (s & Qt::WindowMaximized) return wsMaximized;
    return wsNormal;
}
} // namespace

TQtFormPeer::TQtFormPeer(IQtWidgetSet& widgetSet, TCustomForm* form, QMdiArea* mdiArea)
    : widgetSet_(widgetSet), form_(form) {
    client_ = new TQtFormWidget;
    client_->setObjectName(ToQ(form->Name()));
    client_->installEventFilter(this);
    if (mdiArea && form->FormStyle() == fsMDIChild) {
        sub_ = new QMdiSubWindow;
        if (form->BorderStyle() != bsSizeable && form->BorderStyle() != bsSizeToolWin) {
            // A screen of fixed size: no maximise button and no size grip.
            sub_->setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                 Qt::WindowCloseButtonHint);
            sub_->setOption(QMdiSubWindow::RubberBandResize, false);
        }
        sub_->setWidget(client_);
        sub_->setAttribute(Qt::WA_DeleteOnClose, false);
        sub_->installEventFilter(this);
        mdiArea->addSubWindow(sub_);
        sub_->hide();
        connect(sub_, &QMdiSubWindow::windowStateChanged, this,
                [this](Qt::WindowStates, Qt::WindowStates now) { WindowStateChangedByUser(now); });
        mdiArea->viewport()->installEventFilter(this);
        // Wherever the focus goes (Tab, a handler, a click), the clerk sees where they type.
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
            if (now && client_ && client_->isAncestorOf(now)) EnsureVisible(now);
        });
    }
    form_->SetPeer(this);
    CreateChildren(form_, client_);
    ApplyAll();
    RebuildTabOrder();
    SyncFocus();
}

TQtFormPeer::~TQtFormPeer() {
    peers_.clear();
}

QWidget* TQtFormPeer::Window() const {
    if (sub_) return sub_;
    return client_;
}

TQtControlPeer* TQtFormPeer::PeerOf(const TControl* c) const {
    auto it = peers_.find(c);
    return it == peers_.end() ? nullptr : it->second.get();
}

QWidget* TQtFormPeer::WidgetOf(const TControl* c) const {
    if (!c) return nullptr;
    TQtControlPeer* p = PeerOf(c);
    return p ? p->Widget() : nullptr;
}

QWidget* TQtFormPeer::ContainerOf(const TControl* c) const {
    if (c == form_) return client_;
    TQtControlPeer* p = PeerOf(c);
    return p ? p->Container() : nullptr;
}

void TQtFormPeer::CreatePeer(TControl* c, QWidget* parent) {
    std::unique_ptr<TQtControlPeer> peer = widgetSet_.MakePeer(*this, c, parent);
    TQtControlPeer* raw = peer.get();
    peers_[c] = std::move(peer);
    raw->ApplyAll();
}

void TQtFormPeer::CreateChildren(TWinControl* parent, QWidget* into) {
    // Graphic controls (labels, speed buttons) lie under the windowed ones, as they are painted on
    // their parent's surface in the classic library: create them first.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < parent->ControlCount(); ++i) {
            TControl* c = parent->Controls(i);
            bool windowed = dynamic_cast<TWinControl*>(c) != nullptr;
            if (windowed != (pass == 1) || PeerOf(c)) continue;
            CreatePeer(c, into);
        }
    }
    for (int i = 0; i < parent->ControlCount(); ++i)
        if (auto* w = dynamic_cast<TWinControl*>(parent->Controls(i)))
            if (QWidget* inner = ContainerOf(w)) CreateChildren(w, inner);
}

bool TQtFormPeer::InTree(const TControl* c) const {
    std::set<const TControl*> live;
    if (form_) CollectTree(form_, live);
    return live.count(c) > 0;
}

void TQtFormPeer::Sync() {
    if (!form_) return;
    std::set<const TControl*> live;
    CollectTree(form_, live);
    bool changed = false;
    // A control no longer in the tree was freed or moved without telling us: its peer goes inert
    // (kept alive, since the control may still hold it).
    for (auto it = peers_.begin(); it != peers_.end();) {
        if (live.count(it->first)) {
            ++it;
            continue;
        }
        it->second->Detach(false);
        widgetSet_.Bury(std::move(it->second));
        it = peers_.erase(it);
        changed = true;
    }
    size_t before = peers_.size();
    CreateChildren(form_, client_);
    if (changed || peers_.size() != before) RebuildTabOrder();
}

void TQtFormPeer::Reparent(TQtControlPeer* peer) {
    TControl* c = peer->Control();
    if (!c || !form_) return;
    TWinControl* parent = c->Parent();
    QWidget* container = parent && c->ParentForm() == form_ ? ContainerOf(parent) : nullptr;
    if (container) {
        peer->Widget()->setParent(container);
        peer->ApplyAll();
        RebuildTabOrder();
        return;
    }
    // Left this form (or its new parent has no widget yet): the control is alive, so it gets its
    // peer slot back and a fresh peer when its new form synchronises.
    auto it = peers_.find(c);
    peer->Detach(true);
    if (it != peers_.end()) {
        widgetSet_.Bury(std::move(it->second));
        peers_.erase(it);
    }
    RebuildTabOrder();
}

void TQtFormPeer::RebuildTabOrder() {
    if (!form_) return;
    for (auto& [c, p] : peers_) {
        if (!p->Control() || !p->Widget()) continue;
        auto* w = dynamic_cast<TWinControl*>(p->Control());
        if (w && w->Focusable())
            p->Widget()->setFocusPolicy(w->TabStop() ? Qt::StrongFocus : Qt::ClickFocus);
    }
    QWidget* prev = nullptr;
    for (TWinControl* c : form_->TabSequence()) {
        QWidget* w = WidgetOf(c);
        if (!w) continue;
        if (prev) QWidget::setTabOrder(prev, w);
        prev = w;
    }
}

void TQtFormPeer::SyncFocus() {
    if (!form_ || !client_) return;
    if (!form_->ActiveControl()) {
        // No control has the model's focus, so no widget of this form may show it.
        QWidget* fw = QApplication::focusWidget();
        if (fw && client_->isAncestorOf(fw)) {
            ++settingFocus_;
            fw->clearFocus();
            --settingFocus_;
        }
        return;
    }
    QWidget* w = WidgetOf(form_->ActiveControl());
    if (!w || w->hasFocus() || !w->isEnabled()) return;
    // Focusing a widget of an inactive MDI child would activate it: leave those alone.
    if (sub_ && sub_->mdiArea() && sub_->mdiArea()->activeSubWindow() != sub_) return;
    ++settingFocus_;
    {
        // The model moved the focus (Tab, Enter, a handler): a keyboard move, so the style shows
        // where the focus is (focus frames on check boxes and radio buttons). The edit's own
        // selection on a keyboard focus is not the model's: the model's is put back.
        TQtPushGuard guard;
        w->setFocus(Qt::TabFocusReason);
    }
    --settingFocus_;
    if (TQtControlPeer* p = PeerOf(form_->ActiveControl()))
        p->PropertyChanged(TControlProperty::Selection);
}

void TQtFormPeer::SyncFocusLater() {
    if (focusQueued_) return;
    focusQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        focusQueued_ = false;
        SyncFocus();
    });
}

void TQtFormPeer::Detach(bool now) {
    if (!form_) return;
    TCustomForm* form = form_;
    std::set<const TControl*> live;
    CollectTree(form, live);
    // Hiding a focused widget makes Qt move the focus: nothing of that may reach the model now.
    TQtPushGuard guard;
    form_ = nullptr;
    for (auto& [c, p] : peers_) {
        bool alive = live.count(c) > 0;
        p->Detach(alive);
        if (!alive) {
            widgetSet_.Bury(std::move(p));
        } else if (now) {
            p.reset();
        } else {
            // We may be inside one of this peer's own event handlers.
            p.release()->deleteLater();
        }
    }
    peers_.clear();
    if (form->Peer() == this) form->SetPeer(nullptr);
    if (QWidget* w = Window()) {
        w->removeEventFilter(this);
        w->hide();
        if (now)
            delete w;
        else
            w->deleteLater();
    }
}

void TQtFormPeer::PropertyChanged(TControlProperty property) {
    if (!form_ || !client_) return;
    try {
        TQtPushGuard guard;
        pushing_ = true;
        switch (property) {
        case TControlProperty::Visible:
            ApplyVisible();
            break;
        case TControlProperty::Text:
            ApplyCaption();
            break;
        case TControlProperty::Bounds:
            ApplyBounds();
            break;
        case TControlProperty::WindowState:
            ApplyWindowState();
            break;
        case TControlProperty::ZOrder:
            if (form_->Visible()) {
                Window()->raise();
                if (sub_ && sub_->mdiArea() && sub_->isVisible())
                    sub_->mdiArea()->setActiveSubWindow(sub_);
            }
            break;
        case TControlProperty::ActiveControl:
            // A data-aware edit may show another text with the focus than without it.
            Sync();
            for (auto& [c, p] : peers_)
                if (dynamic_cast<TQtEditPeer*>(p.get())) p->PropertyChanged(TControlProperty::Text);
            SyncFocusLater();
            break;
        case TControlProperty::Color:
            ApplyColors();
            break;
        case TControlProperty::Font:
            client_->setFont(ToQFont(form_->Font()));
            Sync();
            for (auto& [c, p] : peers_)
                if (c->Parent() == form_ && c->ParentFont())
                    p->PropertyChanged(TControlProperty::Font);
            break;
        case TControlProperty::Enabled:
            client_->setEnabled(form_->Enabled());
            RebuildTabOrder();
            break;
        case TControlProperty::TabOrder:
        case TControlProperty::TabStop:
            RebuildTabOrder();
            break;
        case TControlProperty::Parent:
        case TControlProperty::Alignment:
        case TControlProperty::Hint:
        case TControlProperty::MaxLength:
        case TControlProperty::ReadOnly:
        case TControlProperty::EditMask:
        case TControlProperty::Selection:
        case TControlProperty::Checked:
            break; // nothing a form's window shows
        }
    } catch (...) {
    }
    pushing_ = false;
}

void TQtFormPeer::ApplyAll() {
    TQtPushGuard guard;
    pushing_ = true;
    client_->setFont(ToQFont(form_->Font()));
    ApplyColors();
    ApplyCaption();
    ApplyBounds();
    client_->setEnabled(form_->Enabled());
    ApplyVisible();
    pushing_ = false;
}

void TQtFormPeer::ApplyColors() {
    QPalette pal;
    pal.setColor(QPalette::Window, ToQColor(form_->Color()));
    pal.setColor(QPalette::WindowText, ToQColor(form_->Font().Color));
    client_->setPalette(pal);
    client_->setAutoFillBackground(true);
}

void TQtFormPeer::ApplyCaption() {
    Window()->setWindowTitle(ToQ(form_->Caption()));
    if (sub_) client_->setWindowTitle(ToQ(form_->Caption()));
}

void TQtFormPeer::ApplyBounds() {
    int w = form_->ClientWidth() > 0 ? form_->ClientWidth() : form_->Width();
    int h = form_->ClientHeight() > 0 ? form_->ClientHeight() : form_->Height();
    QSize size(std::max(w, 1), std::max(h, 1));
    client_->SetHint(size);
    if (form_->BorderStyle() == bsSingle || form_->BorderStyle() == bsDialog ||
        form_->BorderStyle() == bsToolWindow) {
        client_->setFixedSize(size);
    } else {
        client_->setMinimumSize(0, 0);
        client_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        client_->resize(size);
    }
    if (sub_) {
        if (form_->WindowState() == wsNormal) {
            sub_->resize(sub_->sizeHint());
            sub_->move(VisiblePos(QPoint(form_->Left(), form_->Top()), sub_->size()));
        }
    } else {
        client_->move(form_->Left(), form_->Top());
    }
}

QPoint TQtFormPeer::VisiblePos(QPoint want, QSize size) const {
    QMdiArea* area = sub_ ? sub_->mdiArea() : nullptr;
    if (!area) return want;
    // The designed place, moved in as far as needed for the whole window to show in the area
    // (on a small or scaled screen); the top left corner is never pushed out.
    QSize room = area->viewport()->size();
    // A window taller (wider) than the area brings a scroll bar that takes room across.
    if (size.height() > room.height() && !area->verticalScrollBar()->isVisible())
        room.rwidth() -= area->verticalScrollBar()->sizeHint().width();
    if (size.width() > room.width() && !area->horizontalScrollBar()->isVisible())
        room.rheight() -= area->horizontalScrollBar()->sizeHint().height();
    int x = std::max(0, std::min(want.x(), room.width() - size.width()));
    int y = std::max(0, std::min(want.y(), room.height() - size.height()));
    return {x, y};
}

void TQtFormPeer::EnsureVisible(QWidget* w) {
    QMdiArea* area = sub_ ? sub_->mdiArea() : nullptr;
    if (!area || !sub_->isVisible() || sub_->isMinimized()) return;
    QWidget* view = area->viewport();
    constexpr int margin = 4;
    QRect r(w->mapTo(view, QPoint(0, 0)), w->size());
    r.adjust(-margin, -margin, margin, margin);
    const QRect room = view->rect();
    // The right or bottom edge into view, then the left or top one, which wins for a widget
    // larger than the view.
    int dx = 0, dy = 0;
    if (r.right() > room.right()) dx = r.right() - room.right();
    if (r.left() - dx < room.left()) dx = r.left() - room.left();
    if (r.bottom() > room.bottom()) dy = r.bottom() - room.bottom();
    if (r.top() - dy < room.top()) dy = r.top() - room.top();
    if (dx) area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->value() + dx);
    if (dy) area->verticalScrollBar()->setValue(area->verticalScrollBar()->value() + dy);
}

void TQtFormPeer::KeepInside() {
    if (!sub_ || !sub_->isVisible() || sub_->isMinimized() || sub_->isMaximized()) return;
    QMdiArea* area = sub_->mdiArea();
    if (!area) return;
    QPoint at = VisiblePos(sub_->pos(), sub_->size());
    if (at != sub_->pos()) sub_->move(at);
    if (QWidget* fw = QApplication::focusWidget(); fw && client_->isAncestorOf(fw))
        EnsureVisible(fw);
}

void TQtFormPeer::ApplyVisible() {
    QWidget* win = Window();
    if (!form_->Visible()) {
        win->hide();
        return;
    }
    ApplyWindowState();
    if (!win->isVisible()) {
        if (sub_) client_->show();
        switch (form_->WindowState()) {
        case wsMinimized:
            win->showMinimized();
            break;
        case wsMaximized:
            win->showMaximized();
            break;
        default:
            win->show();
            break;
        }
    }
}

void TQtFormPeer::ApplyWindowState() {
    QWidget* win = Window();
    Qt::WindowStates want = ToQtState(form_->WindowState());
    Qt::WindowStates have = win->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized);
    if (want == have) return;
    bool blocked = sub_ ? sub_->blockSignals(true) : false;
    if (!win->isVisible()) {
        win->setWindowState(want);
    } else if (want & Qt::WindowMinimized) {
        win->showMinimized();
    } else if (want & Qt::WindowMaximized) {
        win->showMaximized();
    } else {
        win->showNormal();
    }
    if (sub_) sub_->blockSignals(blocked);
}

void TQtFormPeer::WindowStateChangedByUser(Qt::WindowStates state) {
    if (!form_ || pushing_ || QtPeersPushing()) return;
    TWindowState s = FromQtState(state);
    if (s == form_->WindowState()) return;
    UserInput::WindowState(form_, s);
    widgetSet_.AfterInput(true);
}

void TQtFormPeer::CloseRequested() {
    if (!form_) return;
    // The model decides: hide, minimise, free or refuse.
    UserInput::Close(form_);
    widgetSet_.AfterInput(true);
}

bool TQtFormPeer::eventFilter(QObject* watched, QEvent* event) {
    if (!form_) return false;
    if (sub_ && sub_->mdiArea() && watched == sub_->mdiArea()->viewport()) {
        if (event->type() == QEvent::Resize) {
            // After the area's own handling, which sets the scroll bars for the new size.
            QTimer::singleShot(0, this, [this] { KeepInside(); });
        }
        return false;
    }
    if (watched != Window()) return false;
    try {
        switch (event->type()) {
        case QEvent::Close:
            event->ignore();
            CloseRequested();
            return true;
        case QEvent::WindowStateChange:
            if (!sub_) WindowStateChangedByUser(client_->windowState());
            return false;
        default:
            return false;
        }
    } catch (...) {
        return true;
    }
}
