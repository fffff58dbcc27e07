#pragma once
// The peers of the controls that show a caption and take no input: labels, group boxes, panels.
#include "qt/QtControlPeer.h"

class TQtLabelPeer : public TQtControlPeer {
public:
    TQtLabelPeer(IQtFormSite& form, TControl* control, QWidget* parent);

protected:
    void ApplyText() override;
    void ApplyBounds() override;
};

class TQtGroupBoxPeer : public TQtControlPeer {
public:
    TQtGroupBoxPeer(IQtFormSite& form, TControl* control, QWidget* parent);

protected:
    void ApplyText() override;
};

class TQtPanelPeer : public TQtControlPeer {
public:
    TQtPanelPeer(IQtFormSite& form, TControl* control, QWidget* parent);

protected:
    void ApplyText() override;
};
