#pragma once
// A form's peer: the form's window (top-level, or an MDI child of the host window), the peers of
// its controls and its focus.
#include <map>
#include <memory>

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "qt/QtControlPeer.h"
#include "vcl/Forms.h"

// What a form's peer needs of the widgetset that keeps every form.
class IQtWidgetSet {
public:
    // The peer of a control, by the control's class.
    virtual std::unique_ptr<TQtControlPeer> MakePeer(IQtFormSite& form, TControl* c,
                                                     QWidget* parent) = 0;
    // After an entry from any peer: every form's peers and focus brought in line with the model.
    virtual void AfterInput(bool queuedFocus) = 0;
    // Peers of components that left their form without notice: kept inert, since the component may
    // still hold the pointer.
    virtual void Bury(std::unique_ptr<TQtControlPeer> peer) = 0;

protected:
    ~IQtWidgetSet() = default;
};

// The client area of a form: its size hint is the model's client size, so an MDI frame fits it.
class TQtFormWidget : public QWidget {
public:
    explicit TQtFormWidget(QWidget* parent = nullptr) : QWidget(parent) {}
    QSize sizeHint() const override { return hint_; }
    void SetHint(QSize s) { hint_ = s; }

private:
    QSize hint_;
};

class TQtFormPeer : public QObject, public IControlPeer, public IQtFormSite {
public:
    TQtFormPeer(IQtWidgetSet& widgetSet, TCustomForm* form, QMdiArea* mdiArea);
    ~TQtFormPeer() override;

    void PropertyChanged(TControlProperty property) override;

    // Null once the form was freed.
    TCustomForm* Form() const override { return form_; }
    QWidget* Client() const override { return client_; }
    // The window the user sees: the MDI frame, or the client when it is a top-level window.
    QWidget* Window() const;
    QMdiSubWindow* SubWindow() const { return sub_; }

    TQtControlPeer* PeerOf(const TControl* c) const override;
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
    void SyncFocusLater() override;
    void RebuildTabOrder() override;
    void Reparent(TQtControlPeer* peer) override;
    void AfterInput(bool queuedFocus) override { widgetSet_.AfterInput(queuedFocus); }
    // The form is being freed: release every component still alive and drop every widget, at once
    // or when control returns to the event loop.
    void Detach(bool now);
    // Pushes every property of the form to its window.
    void ApplyAll();
    bool SettingFocus() const override { return settingFocus_ > 0; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreatePeer(TControl* c, QWidget* parent);
    void CreateChildren(TWinControl* parent, QWidget* into);
    void ApplyBounds();
    // Where the window goes for the model's `want`: inside the MDI area when it fits there.
    QPoint VisiblePos(QPoint want, QSize size) const;
    void ApplyVisible();
    // The focused widget scrolled into the MDI area's view (a screen larger than the area).
    void EnsureVisible(QWidget* w);
    // After the area was resized: the window moved back inside it as far as it fits.
    void KeepInside();
    void ApplyWindowState();
    void ApplyCaption();
    void ApplyColors();
    void WindowStateChangedByUser(Qt::WindowStates state);
    void CloseRequested();
    bool InTree(const TControl* c) const;

    IQtWidgetSet& widgetSet_;
    TCustomForm* form_;
    QPointer<TQtFormWidget> client_;
    QPointer<QMdiSubWindow> sub_;
    std::map<const TControl*, std::unique_ptr<TQtControlPeer>> peers_;
    int settingFocus_ = 0;
    bool pushing_ = false;
    bool focusQueued_ = false;
};
