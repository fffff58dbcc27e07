#pragma once
// The widgetset: shows forms of the headless component model as Qt windows (top-level, or MDI
// children of the host window) and keeps one peer per component. It is also the application's peer:
// forms shown get windows, forms freed lose them, the screen cursor becomes Qt's override cursor.
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QObject>
#include <QPointer>
#include <QTranslator>
#include <QWidget>

#include "qt/QtPeers.h"
#include "vcl/Forms.h"

class TQtWidgetSet;

// The client area of a form: its size hint is the model's client size, so an MDI frame fits it.
class TQtFormWidget : public QWidget {
public:
    explicit TQtFormWidget(QWidget* parent = nullptr) : QWidget(parent) {}
    QSize sizeHint() const override { return hint_; }
    void SetHint(QSize s) { hint_ = s; }

private:
    QSize hint_;
};

class TQtFormPeer : public QObject, public IControlPeer {
public:
    TQtFormPeer(TQtWidgetSet& widgetSet, TCustomForm* form, QMdiArea* mdiArea);
    ~TQtFormPeer() override;

    void PropertyChanged(const char* property) override;

    // Null once the form was freed.
    TCustomForm* Form() const { return form_; }
    TQtWidgetSet& WidgetSet() const { return widgetSet_; }
    QWidget* Client() const { return client_; }
    // The window the user sees: the MDI frame, or the client when it is a top-level window.
    QWidget* Window() const;
    QMdiSubWindow* SubWindow() const { return sub_; }

    TQtControlPeer* PeerOf(const TControl* c) const;
    QWidget* WidgetOf(const TControl* c) const;
    // The widget that holds the children of `c` (the client for the form itself).
    QWidget* ContainerOf(const TControl* c) const;
    int PeerCount() const { return static_cast<int>(peers_.size()); }

    // Brings the peers in line with the form's controls: peers for controls that have none, inert
    // peers for controls that left the form (freed or moved), tab order. Never dereferences a
    // control that is no longer in the form's tree.
    void Sync();
    // Moves Qt's focus to the widget of the model's ActiveControl.
    void SyncFocus();
    void SyncFocusLater();
    void RebuildTabOrder();
    // A control's parent changed: move its widget, or let it go when it left the form.
    void Reparent(TQtControlPeer* peer);
    // The form is being freed: release every component still alive and drop every widget, at once
    // or when control returns to the event loop.
    void Detach(bool now);
    // Pushes every property of the form to its window.
    void ApplyAll();
    bool SettingFocus() const { return settingFocus_ > 0; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreatePeer(TControl* c, QWidget* parent);
    void CreateChildren(TWinControl* parent, QWidget* into);
    void ApplyBounds();
    // Where the window goes for the model's `want`: inside the MDI area when it fits there.
    QPoint VisiblePos(QPoint want, QSize size) const;
    void ApplyVisible();
    void ApplyWindowState();
    void ApplyCaption();
    void ApplyColors();
    void WindowStateChangedByUser(Qt::WindowStates state);
    void CloseRequested();
    bool InTree(const TControl* c) const;

    TQtWidgetSet& widgetSet_;
    TCustomForm* form_;
    QPointer<TQtFormWidget> client_;
    QPointer<QMdiSubWindow> sub_;
    std::map<const TControl*, std::unique_ptr<TQtControlPeer>> peers_;
    int settingFocus_ = 0;
    bool pushing_ = false;
    bool focusQueued_ = false;
    friend class TQtControlPeer;
};

class TQtWidgetSet : public IApplicationPeer {
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
    // After an entry from any peer: every form's peers and focus brought in line with the model.
    void AfterInput(bool queuedFocus);

    // A factory tried before the built-in peers: returns null for controls it does not handle.
    using PeerFactory =
        std::function<std::unique_ptr<TQtControlPeer>(TQtFormPeer&, TControl*, QWidget* parent)>;
    void AddPeerFactory(PeerFactory f) { factories_.push_back(std::move(f)); }
    std::unique_ptr<TQtControlPeer> MakePeer(TQtFormPeer& form, TControl* c, QWidget* parent);

    void FormShown(TCustomForm* form) override;
    void FormClosed(TCustomForm* form) override;
    void CursorChanged(int cursor) override;
    bool WaitCursorShown() const { return waitCursor_; }

    // Peers of components that left their form without notice: kept inert, since the component may
    // still hold the pointer.
    void Bury(std::unique_ptr<TQtControlPeer> peer);

private:
    std::map<const TCustomForm*, TQtFormPeer*> forms_;
    std::vector<std::unique_ptr<TQtControlPeer>> graveyard_;
    std::vector<PeerFactory> factories_;
    QPointer<QMdiArea> mdiArea_;
    QPointer<QWidget> mainWindow_;
    bool waitCursor_ = false;
    std::unique_ptr<QTranslator> translator_;
};
