#pragma once
// The widgetset: shows forms of the headless component model as Qt windows (top-level, or MDI
// children of the host window) and keeps one peer per component. It is also the application's peer:
// forms shown get windows, forms freed lose them, the screen cursor becomes Qt's override cursor.
#include <map>
#include <memory>
#include <vector>

#include <QMdiArea>
#include <QPointer>
#include <QTranslator>
#include <QWidget>

#include "qt/QtFormPeer.h"
#include "qt/QtPeerFactory.h"
#include "vcl/Forms.h"

class TQtWidgetSet : public IApplicationPeer, public IQtWidgetSet {
public:
    // Sets the application's style and font (Fusion, DejaVu Sans 11 px) for a uniform look.
    TQtWidgetSet();
    ~TQtWidgetSet() override;
    TQtWidgetSet(const TQtWidgetSet&) = delete;
    TQtWidgetSet& operator=(const TQtWidgetSet&) = delete;

    // Becomes the application's peer (needed to learn about forms freed by the model).
    void Install();
    void Uninstall();

    // Creates the window and the peers of a form (or completes them) and returns the form's peer.
    TQtFormPeer* CreatePeers(TCustomForm* form);
    TQtFormPeer* FormPeer(const TCustomForm* form) const;
    QWidget* WindowOf(const TCustomForm* form) const;

    // MDI children go into this area; without one every form is a top-level window.
    void SetMdiArea(QMdiArea* area) { mdiArea_ = area; }
    QMdiArea* MdiArea() const { return mdiArea_; }
    // The host's main window (where the busy animation of kinds 0 and 6 goes).
    void SetMainWindow(QWidget* w) { mainWindow_ = w; }
    QWidget* MainWindow() const { return mainWindow_; }

    // Windows for visible forms that have none yet (a form definition can make a form visible
    // without Show), then every form peer synchronised.
    void SyncForms();
    void AfterInput(bool queuedFocus) override;

    // The peers by component class: the widgetset's own are registered from the start; a peer
    // registered later for a class takes its components from then on.
    TQtPeerFactory& Peers() { return peers_; }
    std::unique_ptr<TQtControlPeer> MakePeer(IQtFormSite& form, TControl* c,
                                             QWidget* parent) override;

    void FormShown(TCustomForm* form) override;
    void FormClosed(TCustomForm* form) override;
    void CursorChanged(int cursor) override;
    void Beep() override;
    bool WaitCursorShown() const { return waitCursor_; }

    void Bury(std::unique_ptr<TQtControlPeer> peer) override;

private:
    std::map<const TCustomForm*, TQtFormPeer*> forms_;
    std::vector<std::unique_ptr<TQtControlPeer>> graveyard_;
    TQtPeerFactory peers_;
    QPointer<QMdiArea> mdiArea_;
    QPointer<QWidget> mainWindow_;
    bool waitCursor_ = false;
    std::unique_ptr<QTranslator> translator_;
};
