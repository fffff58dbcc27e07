#include "hostapp/qt/QtHost.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>

#include "hostapp/qt/QtLoginDialog.h"
#include "hostapp/qt/QtParamsDialogs.h"
#include "net/NetConnection.h"
#include "qt/QtText.h"
#include "vcl/Dialogs.h"
#include "vcl/Forms.h"
#include "vcl/Input.h"

const char* const TQtHost::kTitle = "KX - Compras e Documentos Fiscais";
const char* const TQtHost::kMenu = "&Cadastros";
const char* const TQtHost::kScreenEntry = "&Parâmetros por Fornecedor";
const char* const TQtHost::kExportEntry = "&Exportar parâmetros…";
const char* const TQtHost::kImportEntry = "&Importar parâmetros…";

TQtHost::TQtHost(IKxHost* host) : host_(host), window_(std::make_unique<TQtHostWindow>()) {
    TCustomForm* main = Application ? Application->MainForm() : nullptr;
    window_->setWindowTitle(main && !main->Caption().empty() ? ToQ(main->Caption())
                                                             : QString::fromUtf8(kTitle));
    window_->SetServer(ToQ(host_->ServerAddress()));
    window_->SetDatabase(ToQ(host_->DatabaseUrl()));
    window_->SetOperator(ToQ(host_->OperatorName()));
    screenAction_ = window_->AddMenuEntry(QString::fromUtf8(kMenu), QString::fromUtf8(kScreenEntry),
                                          [this] { host_->OpenScreen(); });
    exportAction_ = window_->AddMenuEntry(QString::fromUtf8(kMenu), QString::fromUtf8(kExportEntry),
                                          [this] { ExportParamsToFile(window_.get()); });
    importAction_ = window_->AddMenuEntry(QString::fromUtf8(kMenu), QString::fromUtf8(kImportEntry),
                                          [this] { ImportParamsFromFile(window_.get()); });
    window_->installEventFilter(this);
    // The model may have asked for the hourglass before there was a window to show it on.
    if (Screen->Cursor() == crHourGlass) window_->CursorChanged(crHourGlass);
}

TQtHost::~TQtHost() {
    if (signInWhenAsked_) TNetConnection::SetLoginPrompt(nullptr);
    window_->removeEventFilter(this);
    window_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TQtHost::Show(int timeoutMs) {
    window_->show();
    window_->activateWindow();
    QElapsedTimer t;
    t.start();
    while (!window_->isActiveWindow() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

int TQtHost::RunScript(std::istream& in, std::ostream& out) {
    TScriptedDialogs scripted;
    IDialogService* before = &DialogService();
    SetDialogService(&scripted);
    int rc = 1;
    try {
        rc = host_->RunScript(in, out);
    } catch (...) {
        SetDialogService(before);
        throw;
    }
    SetDialogService(before);
    Settle();
    return rc;
}

void TQtHost::Settle() {
    // A script changes the model without any event of the windows: bring them in line, let the
    // queued focus moves and deletes run, then the paint.
    window_->SetServer(ToQ(host_->ServerAddress()));
    TQtWidgetSet& ws = window_->WidgetSet();
    ws.SyncForms();
    ws.AfterInput(false);
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

void TQtHost::SignInWhenAsked() {
    signInWhenAsked_ = true;
    TNetConnection::SetLoginPrompt([this](const String& reason) {
        TQtLoginDialog login(host_, window_.get());
        login.ShowReason(ToQ(reason));
        // The call that asks may run under the hourglass; the dialog wants the arrow.
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        const bool signedIn = login.exec() == QDialog::Accepted;
        QApplication::restoreOverrideCursor();
        window_->SetOperator(ToQ(host_->OperatorName()));
        return signedIn;
    });
}

bool TQtHost::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_.get() || event->type() != QEvent::Close) return false;
    TCustomForm* screen = host_->ScreenForm();
    if (!screen) return false;
    UserInput::Close(screen);
    window_->WidgetSet().AfterInput(true);
    if (host_->ScreenForm()) {
        event->ignore();
        return true;
    }
    return false;
}
