#pragma once
// The host's main window: an MDI area for the screens, a menu whose entries run actions given by
// the host client, and a status bar with the server, the database and the operator. It is the
// application's peer and installs the Qt dialog service while it lives.
#include <functional>
#include <map>
#include <vector>

#include <QMainWindow>

#include "qt/QtDialogs.h"
#include "qt/QtWidgetSet.h"

class QLabel;
class QMdiArea;
class QMenu;
class QTimer;

class TQtHostWindow : public QMainWindow, public IApplicationPeer {
    Q_OBJECT
public:
    explicit TQtHostWindow(QWidget* parent = nullptr);
    ~TQtHostWindow() override;

    TQtWidgetSet& WidgetSet() { return widgetSet_; }
    TQtDialogService& Dialogs() { return dialogs_; }
    QMdiArea* MdiArea() const { return mdiArea_; }

    // Adds `entry` to the menu `menu` (created on first use, before the window menu); "&" marks
    // the accelerator of either. The action runs as one event: its exceptions are shown, and
    // forms it made visible get their windows.
    QAction* AddMenuEntry(const QString& menu, const QString& entry, std::function<void()> action);
    // The window menu: close the active screen (Ctrl+F4, Ctrl+W), next and previous screen
    // (Ctrl+Tab, Ctrl+Shift+Tab).
    QMenu* WindowMenu() const { return windowMenu_; }
    QAction* CloseScreenAction() const { return closeScreen_; }
    // The commands of the open forms (a screen's history, say), while such a form is open.
    QMenu* CommandMenu() const { return commandMenu_; }
    // Enables each command's entry as its form says now.
    void UpdateCommands();
    // The notice of the status line (a change saved); it clears itself after a while.
    QLabel* NoticeLabel() const { return notice_; }
    // The window placed and sized to fit the available area of its screen.
    void FitToScreen();

    void SetServer(const QString& s);
    void SetDatabase(const QString& s);
    void SetOperator(const QString& s);
    QLabel* ServerLabel() const { return server_; }
    QLabel* DatabaseLabel() const { return database_; }
    QLabel* OperatorLabel() const { return operator_; }

    // Saves a PNG of the main window as it is now.
    bool SaveScreenshot(const QString& file);

    void FormShown(TCustomForm* form) override;
    void FormClosed(TCustomForm* form) override;
    void CursorChanged(int cursor) override;
    void StatusShown(const String& text) override;
    void Beep() override;

    // The application's own icon (drawn, so no file has to be found at run time).
    static QIcon AppIcon();

private:
    void ReleaseKeysOnClose(QMenu* menu);
    TQtWidgetSet widgetSet_;
    TQtDialogService dialogs_;
    QMdiArea* mdiArea_;
    QLabel* server_;
    QLabel* database_;
    QLabel* operator_;
    QLabel* notice_;
    QTimer* noticeTimer_;
    QMenu* windowMenu_;
    QAction* closeScreen_;
    QMenu* commandMenu_ = nullptr;
    std::map<TCustomForm*, std::vector<QAction*>> formCommands_;
};
