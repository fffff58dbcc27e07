#include "qt/QtHostWindow.h"

#include <QApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QStatusBar>

TQtHostWindow::TQtHostWindow(QWidget* parent) : QMainWindow(parent), dialogs_(&widgetSet_) {
    setObjectName(QStringLiteral("hostWindow"));
    mdiArea_ = new QMdiArea(this);
    mdiArea_->setObjectName(QStringLiteral("mdiArea"));
    mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdiArea_);
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
    resize(1280, 800);

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
    if (!m) m = menuBar()->addMenu(menu);
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
}

void TQtHostWindow::FormClosed(TCustomForm* form) {
    widgetSet_.FormClosed(form);
}

void TQtHostWindow::CursorChanged(int cursor) {
    widgetSet_.CursorChanged(cursor);
}
