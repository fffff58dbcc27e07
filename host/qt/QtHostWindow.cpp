#include "qt/QtHostWindow.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include "qt/QtText.h"
#include "vcl/Input.h"

TQtHostWindow::TQtHostWindow(QWidget* parent) : QMainWindow(parent), dialogs_(&widgetSet_) {
    setObjectName(QStringLiteral("hostWindow"));
    mdiArea_ = new QMdiArea(this);
    mdiArea_->setObjectName(QStringLiteral("mdiArea"));
    mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdiArea_);
    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("notice"));
    statusBar()->addWidget(notice_, 2);
    noticeTimer_ = new QTimer(this);
    noticeTimer_->setSingleShot(true);
    connect(noticeTimer_, &QTimer::timeout, notice_, &QLabel::clear);
    server_ = new QLabel(this);
    database_ = new QLabel(this);
    operator_ = new QLabel(this);
    server_->setObjectName(QStringLiteral("server"));
    database_->setObjectName(QStringLiteral("database"));
    operator_->setObjectName(QStringLiteral("operator"));
    statusBar()->addWidget(server_, 1);
    statusBar()->addWidget(database_, 1);
    statusBar()->addWidget(operator_, 1);
    SetServer({});
    SetDatabase({});
    SetOperator({});
    setWindowIcon(AppIcon());
    QApplication::setWindowIcon(AppIcon());

    windowMenu_ = menuBar()->addMenu(QStringLiteral("&Janela"));
    windowMenu_->setObjectName(QStringLiteral("windowMenu"));
    ReleaseKeysOnClose(windowMenu_);
    closeScreen_ = windowMenu_->addAction(QStringLiteral("&Fechar"), mdiArea_, [this] {
        if (QMdiSubWindow* sub = mdiArea_->activeSubWindow()) sub->close();
    });
    closeScreen_->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_F4), QKeySequence(Qt::CTRL | Qt::Key_W)});
    QAction* next = windowMenu_->addAction(QStringLiteral("&Próxima"), mdiArea_,
                                           &QMdiArea::activateNextSubWindow);
    next->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab));
    QAction* previous = windowMenu_->addAction(QStringLiteral("&Anterior"), mdiArea_,
                                               &QMdiArea::activatePreviousSubWindow);
    // Shift+Tab arrives as Backtab; the menu names the keys the user presses.
    previous->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)});
    windowMenu_->addSeparator();
    windowMenu_->addAction(QStringLiteral("&Cascata"), mdiArea_, &QMdiArea::cascadeSubWindows);
    windowMenu_->addAction(QStringLiteral("&Lado a lado"), mdiArea_, &QMdiArea::tileSubWindows);
    for (QAction* a : windowMenu_->actions())
        a->setShortcutContext(Qt::WindowShortcut);
    // The window menu owns the close keys; a screen's own system menu keeps its entry but not
    // the keys, which would otherwise be claimed twice.
    connect(mdiArea_, &QMdiArea::subWindowActivated, this, [](QMdiSubWindow* sub) {
        if (!sub || !sub->systemMenu()) return;
        for (QAction* a : sub->systemMenu()->actions())
            if (a->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_W)) ||
                a->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_F4)))
                a->setShortcuts({});
    });
    FitToScreen();

    widgetSet_.SetMdiArea(mdiArea_);
    widgetSet_.SetMainWindow(this);
    Application->SetPeer(this);
    SetDialogService(&dialogs_);
}

TQtHostWindow::~TQtHostWindow() {
    if (Application && Application->Peer() == this) Application->SetPeer(nullptr);
    if (&DialogService() == &dialogs_) SetDialogService(nullptr);
}

QAction* TQtHostWindow::AddMenuEntry(const QString& menu, const QString& entry,
                                     std::function<void()> action) {
    QMenu* m = nullptr;
    for (QAction* a : menuBar()->actions())
        if (a->menu() && a->text() == menu) m = a->menu();
    if (!m) {
        m = new QMenu(menu, this);
        menuBar()->insertMenu(windowMenu_->menuAction(), m);
        ReleaseKeysOnClose(m);
    }
    QAction* a = m->addAction(entry);
    connect(a, &QAction::triggered, this, [this, action = std::move(action)] {
        try {
            RunEvent(action);
            widgetSet_.SyncForms();
            widgetSet_.AfterInput(true);
        } catch (...) {
        }
    });
    return a;
}

void TQtHostWindow::ReleaseKeysOnClose(QMenu* menu) {
    // Esc closes the menu but leaves the menu bar holding the keyboard (its titles are
    // highlighted and typed letters pick menus) until a second Esc: the first Esc gives the keys
    // back to the screen. Another menu opened by the arrow keys meanwhile keeps them.
    connect(menu, &QMenu::aboutToHide, this, [this] {
        QTimer::singleShot(0, this, [this] {
            QMenuBar* bar = menuBar();
            if (QApplication::activePopupWidget() || !bar->hasFocus()) return;
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(bar, &esc);
        });
    });
}

void TQtHostWindow::FitToScreen() {
    QScreen* sc = screen() ? screen() : QGuiApplication::primaryScreen();
    QRect avail = sc ? sc->availableGeometry() : QRect(0, 0, 1280, 800);
    // The designed 1280 x 800 where there is room; never larger than the screen can show with
    // the window manager's frame around it.
    int frameW = 16, frameH = 40;
    QSize size(std::min(1280, avail.width() - frameW), std::min(800, avail.height() - frameH));
    resize(size);
    move(avail.left() + (avail.width() - size.width() - frameW) / 2,
         avail.top() + (avail.height() - size.height() - frameH) / 2);
}

QIcon TQtHostWindow::AppIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128}) {
        QPixmap pm(side, side);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1F, 0x4E, 0x8C));
        p.drawRoundedRect(QRectF(0.5, 0.5, side - 1, side - 1), side / 6.0, side / 6.0);
        // A sheet with lines: the documents the application is about.
        p.setBrush(Qt::white);
        QRectF sheet(side * 0.25, side * 0.16, side * 0.5, side * 0.68);
        p.drawRect(sheet);
        p.setPen(QPen(QColor(0x1F, 0x4E, 0x8C), std::max(1.0, side / 16.0)));
        for (int i = 1; i <= 3; ++i) {
            double y = sheet.top() + sheet.height() * i / 4.5;
            p.drawLine(QPointF(sheet.left() + side * 0.07, y),
                       QPointF(sheet.right() - side * 0.07, y));
        }
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

void TQtHostWindow::StatusShown(const String& text) {
    notice_->setText(ToQ(text));
    noticeTimer_->start(20000);
}

void TQtHostWindow::SetServer(const QString& s) {
    server_->setText(QStringLiteral("Servidor: ") + s);
}

void TQtHostWindow::SetDatabase(const QString& s) {
    database_->setText(QStringLiteral("Banco: ") + s);
}

void TQtHostWindow::SetOperator(const QString& s) {
    operator_->setText(QStringLiteral("Operador: ") + s);
}

bool TQtHostWindow::SaveScreenshot(const QString& file) {
    // Pending layouts first, so the picture shows the window as the user would see it.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return grab().save(file, "PNG");
}

void TQtHostWindow::FormShown(TCustomForm* form) {
    widgetSet_.FormShown(form);
    if (form->Commands().empty() || formCommands_.count(form)) return;
    if (!commandMenu_) {
        commandMenu_ = new QMenu(QStringLiteral("C&onsultas"), this);
        commandMenu_->setObjectName(QStringLiteral("commandMenu"));
        menuBar()->insertMenu(windowMenu_->menuAction(), commandMenu_);
        ReleaseKeysOnClose(commandMenu_);
        // Each entry is enabled as its form says while the menu shows; its shortcut always
        // reaches the form, which does nothing while the command is disabled.
        connect(commandMenu_, &QMenu::aboutToShow, this, [this] { UpdateCommands(); });
        connect(commandMenu_, &QMenu::aboutToHide, this, [this] {
            for (QAction* a : commandMenu_->actions())
                a->setEnabled(true);
        });
    }
    std::vector<QAction*>& actions = formCommands_[form];
    for (size_t i = 0; i < form->Commands().size(); ++i) {
        const TFormCommand& c = form->Commands()[i];
        QAction* a = commandMenu_->addAction(ToQ(c.caption));
        if (!c.shortCut.empty()) a->setShortcut(QKeySequence(ToQ(c.shortCut)));
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, [this, form, i] {
            if (!formCommands_.count(form) || i >= form->Commands().size()) return;
            UserInput::Command(form, form->Commands()[i]);
            widgetSet_.SyncForms();
            widgetSet_.AfterInput(true);
        });
        actions.push_back(a);
    }
    commandMenu_->menuAction()->setVisible(true);
}

void TQtHostWindow::FormClosed(TCustomForm* form) {
    widgetSet_.FormClosed(form);
    const auto it = formCommands_.find(form);
    if (it == formCommands_.end()) return;
    for (QAction* a : it->second)
        delete a;
    formCommands_.erase(it);
    if (commandMenu_ && commandMenu_->actions().isEmpty())
        commandMenu_->menuAction()->setVisible(false);
}

void TQtHostWindow::UpdateCommands() {
    for (auto& [form, actions] : formCommands_)
        for (size_t i = 0; i < actions.size() && i < form->Commands().size(); ++i) {
            const TFormCommand& c = form->Commands()[i];
            actions[i]->setEnabled(!c.enabled || c.enabled());
        }
}

void TQtHostWindow::CursorChanged(int cursor) {
    widgetSet_.CursorChanged(cursor);
}

void TQtHostWindow::Beep() {
    widgetSet_.Beep();
}
