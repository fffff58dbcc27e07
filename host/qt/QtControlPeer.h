#pragma once
// The base of every peer: one Qt widget per component. The model pushes what changed; the peer
// re-reads the model and updates its widget with signals blocked. The peers only mirror the
// model: what the user does to a widget enters the model only through UserInput. The families
// of peers the widgetset knows are in QtStaticPeers, QtEditPeers and QtButtonPeers; a class
// derived from one of their components gets the peer of the nearest base known there.
#include <QPointer>
#include <QWidget>

#include "vcl/Controls.h"

class QKeyEvent;
class TQtControlPeer;

// The form a control's peer lives in, as the peer sees it. The form's peer implements it, so the
// control peers do not depend on it.
class IQtFormSite {
public:
    // Null once the form was freed.
    virtual TCustomForm* Form() const = 0;
    virtual QWidget* Client() const = 0;
    virtual TQtControlPeer* PeerOf(const TControl* c) const = 0;
    // True while the form moves Qt's focus itself.
    virtual bool SettingFocus() const = 0;
    virtual void SyncFocusLater() = 0;
    virtual void RebuildTabOrder() = 0;
    // A control's parent changed: move its widget, or let it go when it left the form.
    virtual void Reparent(TQtControlPeer* peer) = 0;
    // After a piece of user input: every form's peers and focus brought in line with the model.
    virtual void AfterInput(bool queuedFocus) = 0;

protected:
    ~IQtFormSite() = default;
};

class TQtControlPeer : public QObject, public IControlPeer {
public:
    // Takes the component's peer slot; the widget becomes a child of `parent`.
    TQtControlPeer(IQtFormSite& form, TControl* control, QWidget* widget);
    ~TQtControlPeer() override;

    void PropertyChanged(TControlProperty property) final;
    // Pushes the whole state the component holds.
    void ApplyAll();

    // Null once the component is gone or no longer shown by this peer.
    TControl* Control() const { return control_; }
    QWidget* Widget() const { return widget_; }
    IQtFormSite& Site() const { return form_; }
    // The component no longer belongs here: forget it and remove the widget. With `release`, the
    // component (known to be alive) gets its peer slot back.
    void Detach(bool release);
    // The widget the children's widgets are placed in.
    virtual QWidget* Container() const { return widget_; }

protected:
    virtual void Apply(TControlProperty property);
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A key pressed while the component's widget has the focus. True when consumed.
    virtual bool KeyPressed(QKeyEvent* e);
    // Sends printable text, Enter, Esc and Backspace to the model; true when the key was one.
    bool SendKeys(QKeyEvent* e);
    // Sends a key that types no character (arrows, Home, End, F4) to the model; true when it
    // was one.
    bool SendKeyDown(QKeyEvent* e);
    // The focusable windowed control, or null for labels, containers and speed buttons.
    TWinControl* FocusTarget() const;
    // Mirrors the model after a piece of user input; false when the component went away.
    bool AfterInput(bool queuedFocus = false);
    virtual void ApplyBounds();
    void ApplyColors();
    void ApplyFont();
    void ApplyHint();
    // The key that works the control from elsewhere ("F4", "Ctrl+S"), shown in its hint.
    QString KeyName() const;
    virtual void ApplyText() {}
    virtual QPalette::ColorRole BackgroundRole() const { return QPalette::Window; }
    virtual QPalette::ColorRole ForegroundRole() const { return QPalette::WindowText; }
    virtual QColor TextColor() const;
    // Containers and edits paint their background; labels and buttons lie on their parent's.
    virtual bool FillsBackground() const;

    IQtFormSite& form_;
    TControl* control_;
    QPointer<QWidget> widget_;
    // A mouse focus-in already asked the model for the focus; the press that follows must not
    // ask again (the exit events would run twice).
    bool mouseFocusTried_ = false;
};

// Any other control: a plain widget that keeps position, colours and focus.
class TQtGenericPeer : public TQtControlPeer {
public:
    TQtGenericPeer(IQtFormSite& form, TControl* control, QWidget* parent);
};

// True while a model change is being pushed to widgets: focus moves Qt makes on its own then (a
// focused widget being disabled or hidden) are not user input.
bool QtPeersPushing();
class TQtPushGuard {
public:
    TQtPushGuard();
    ~TQtPushGuard();
    TQtPushGuard(const TQtPushGuard&) = delete;
    TQtPushGuard& operator=(const TQtPushGuard&) = delete;
};
