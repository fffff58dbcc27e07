#pragma once
// The peers: one Qt widget per component, mirroring the component both ways. The model pushes
// property names; the peer re-reads the model and updates its widget with signals blocked. What the
// user does to a widget enters the model only through UserInput.
#include <QPointer>
#include <QToolButton>
#include <QWidget>

#include "vcl/Controls.h"

class QCalendarWidget;
class QKeyEvent;
class QLineEdit;
class QShortcut;
class TCustomEdit;
class TQtFormPeer;

class TQtControlPeer : public QObject, public IControlPeer {
public:
    // Takes the component's peer slot; the widget becomes a child of `parent`.
    TQtControlPeer(TQtFormPeer& form, TControl* control, QWidget* widget);
    ~TQtControlPeer() override;

    void PropertyChanged(const char* property) final;
    // Pushes the whole state the component holds.
    void ApplyAll();

    // Null once the component is gone or no longer shown by this peer.
    TControl* Control() const { return control_; }
    QWidget* Widget() const { return widget_; }
    TQtFormPeer& FormPeer() const { return form_; }
    // The component no longer belongs here: forget it and remove the widget. With `release`, the
    // component (known to be alive) gets its peer slot back.
    void Detach(bool release);
    // The widget the children's widgets are placed in.
    virtual QWidget* Container() const { return widget_; }

protected:
    virtual void Apply(const char* property);
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A key pressed while the component's widget has the focus. True when consumed.
    virtual bool KeyPressed(QKeyEvent* e);
    // Sends printable text, Enter, Esc and Backspace to the model; true when the key was one.
    bool SendKeys(QKeyEvent* e);
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

    TQtFormPeer& form_;
    TControl* control_;
    QPointer<QWidget> widget_;
    // A mouse focus-in already asked the model for the focus; the press that follows must not
    // ask again (the exit events would run twice).
    bool mouseFocusTried_ = false;
};

// The peers the widgetset knows. A class derived from one of these components gets the peer of the
// nearest base known here.
class TQtLabelPeer : public TQtControlPeer {
public:
    TQtLabelPeer(TQtFormPeer& form, TControl* control, QWidget* parent);

protected:
    void ApplyText() override;
    void ApplyBounds() override;
};

class TQtGroupBoxPeer : public TQtControlPeer {
public:
    TQtGroupBoxPeer(TQtFormPeer& form, TControl* control, QWidget* parent);

protected:
    void ApplyText() override;
};

class TQtPanelPeer : public TQtControlPeer {
public:
    TQtPanelPeer(TQtFormPeer& form, TControl* control, QWidget* parent);

protected:
    void ApplyText() override;
};

class TQtEditPeer : public TQtControlPeer {
public:
    TQtEditPeer(TQtFormPeer& form, TControl* control, QWidget* parent);
    QLineEdit* LineEdit() const;

protected:
    void Apply(const char* property) override;
    void ApplyText() override;
    bool KeyPressed(QKeyEvent* e) override;
    // F4 or Alt+Down: the search button that belongs to this edit, as a click on it.
    virtual void OpenSearch();
    QPalette::ColorRole BackgroundRole() const override { return QPalette::Base; }
    QPalette::ColorRole ForegroundRole() const override { return QPalette::Text; }
    bool FillsBackground() const override { return true; }
    TCustomEdit* EditControl() const;
    void ApplySelection();
    // Caret and selection moved by the user (keys, mouse): copied into SelStart/SelLength.
    void MirrorSelection();
    void DeleteKey();
    void Paste();
    bool mirroring_ = false;
};

// A date edit: a calendar button on its right, the text in ValidDateColor while it holds a date.
class TQtDateEditPeer : public TQtEditPeer {
public:
    TQtDateEditPeer(TQtFormPeer& form, TControl* control, QWidget* parent);
    QToolButton* Button() const { return button_; }

protected:
    void Apply(const char* property) override;
    void ApplyText() override;
    void ApplyBounds() override;
    QColor TextColor() const override;
    void PlaceButton();
    void OpenSearch() override { OpenCalendar(); }

public:
    // The month under the box; arrows, Page Up/Down and Enter work it, Esc closes it. Null when
    // the box cannot take the focus.
    QCalendarWidget* OpenCalendar();

protected:
    QPointer<QToolButton> button_;
};

class TQtCheckBoxPeer : public TQtControlPeer {
public:
    TQtCheckBoxPeer(TQtFormPeer& form, TControl* control, QWidget* parent);

protected:
    void Apply(const char* property) override;
    void ApplyText() override;
    void ApplyChecked();
    void Clicked();
};

class TQtRadioButtonPeer : public TQtCheckBoxPeer {
public:
    TQtRadioButtonPeer(TQtFormPeer& form, TControl* control, QWidget* parent);
};

class TQtSpeedButtonPeer : public TQtControlPeer {
public:
    TQtSpeedButtonPeer(TQtFormPeer& form, TControl* control, QWidget* parent);
    ~TQtSpeedButtonPeer() override;

protected:
    void Apply(const char* property) override;
    void ApplyText() override;
    void ApplyGlyph();
    QPointer<QShortcut> shortcut_;
};

// Any other control: a plain widget that keeps position, colours and focus.
class TQtGenericPeer : public TQtControlPeer {
public:
    TQtGenericPeer(TQtFormPeer& form, TControl* control, QWidget* parent);
};

// WCAG contrast ratio of two colours (1 to 21), and a grey readable on `background`.
double ContrastRatio(const QColor& a, const QColor& b);
QColor ReadableGrey(const QColor& background);

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

// The glyph of a button: the normal image and the disabled one cut from a strip of `numGlyphs`
// images side by side, or a drawn fallback when the data is empty or unreadable.
struct TQtGlyph {
    QPixmap normal, disabled;
};
enum class TQtFallbackGlyph { Dots, Search, Calendar };
TQtGlyph GlyphFromData(const String& hex, int numGlyphs, TQtFallbackGlyph fallback);
