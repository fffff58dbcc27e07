#pragma once
// The host client's real desktop: the main window with its status bar, the menu entry of the
// screen and those of the parameters in bulk, closing that asks the open screen first, and the
// script run with real windows that ends in a picture of the main window.
#include <iosfwd>
#include <memory>

#include <QObject>
#include <QString>

#include "hostapp/Host.h"
#include "qt/QtHostWindow.h"

class QAction;

class TQtHost : public QObject {
public:
    static const char* const kTitle;
    static const char* const kMenu;
    static const char* const kScreenEntry;
    static const char* const kExportEntry;
    static const char* const kImportEntry;

    // Needs a QApplication. The model's main form (when there is one) stands for the main window.
    explicit TQtHost(IKxHost* host);
    ~TQtHost() override;
    TQtHost(const TQtHost&) = delete;
    TQtHost& operator=(const TQtHost&) = delete;

    TQtHostWindow& Window() { return *window_; }
    // The menu entry that opens the screen (or brings it back).
    QAction* ScreenAction() const { return screenAction_; }
    // The menu entries of the supplier parameters in bulk.
    QAction* ExportAction() const { return exportAction_; }
    QAction* ImportAction() const { return importAction_; }

    // Shows the main window and waits (at most `timeoutMs`) until the platform shows it.
    void Show(int timeoutMs = 2000);
    // Runs a script with the real windows and the scripted dialog service, so that no dialog
    // blocks; the windows are brought in line with the model afterwards. The script's exit code.
    int RunScript(std::istream& in, std::ostream& out);
    // Lets the windows catch up with the model: peers, focus, deferred deletes, paint.
    void Settle();
    // From now on, while this host lives, a call the server refuses for want of a session that
    // the kept password cannot open (changed, or never given because the server was out of
    // reach at start) shows the login dialog, and the call goes on once the operator is in.
    void SignInWhenAsked();

protected:
    // Closing the main window closes the open screen first; a screen that stays open keeps the
    // main window open.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    IKxHost* host_;
    std::unique_ptr<TQtHostWindow> window_;
    QAction* screenAction_ = nullptr;
    QAction* exportAction_ = nullptr;
    QAction* importAction_ = nullptr;
    bool signInWhenAsked_ = false;
};
