#pragma once
// The peers of the edits: a line edit, and one with a button of its own (the date edit's
// calendar).
#include <QPointer>
#include <QToolButton>

#include "qt/QtControlPeer.h"

class QCalendarWidget;
class QLineEdit;
class TCustomEdit;

class TQtEditPeer : public TQtControlPeer {
public:
    TQtEditPeer(IQtFormSite& form, TControl* control, QWidget* parent);
    QLineEdit* LineEdit() const;

protected:
    void Apply(TControlProperty property) override;
    void ApplyText() override;
    bool KeyPressed(QKeyEvent* e) override;
    // F4 or Alt+Down: the model decides (the edit's search button, a list of the screen's).
    virtual void OpenSearch();
    QColor TextColor() const override;
    QPalette::ColorRole BackgroundRole() const override { return QPalette::Base; }
    QPalette::ColorRole ForegroundRole() const override { return QPalette::Text; }
    bool FillsBackground() const override { return true; }
    TCustomEdit* EditControl() const;
    void ApplySelection();
    // Caret and selection moved by the user (keys, mouse): sent to the model as a selection.
    void MirrorSelection();
    void DeleteKey();
    void Paste();
    bool mirroring_ = false;
};

// An edit with a button of its own (IEditButton) on its right; for a date edit, the calendar.
class TQtButtonEditPeer : public TQtEditPeer {
public:
    TQtButtonEditPeer(IQtFormSite& form, TControl* control, QWidget* parent);
    QToolButton* Button() const { return button_; }

protected:
    void ApplyBounds() override;
    void PlaceButton();
    // The button's click: the picker its kind names.
    void OpenSearch() override;

public:
    // The month under the box; arrows, Page Up/Down and Enter work it, Esc closes it. Null when
    // the box cannot take the focus.
    QCalendarWidget* OpenCalendar();

protected:
    QPointer<QToolButton> button_;
};
