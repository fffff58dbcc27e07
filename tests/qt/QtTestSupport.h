#pragma once
// A small form with every kind of control the widgetset shows, and a fixture that shows it through
// the widgetset with the scripted dialog service catching the messages.
#include <memory>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

#include "qt/QtWidgetSet.h"
#include "vcl/Dialogs.h"
#include "vcl/Forms.h"
#include "vcl/Input.h"
#include "vcl/Mask.h"
#include "vcl/StdCtrls.h"

class TTestForm : public TForm {
public:
    explicit TTestForm(TComponent* owner, TFormStyle style = fsNormal);
    String ClassName() const override { return "TTestForm"; }
    void Log(const String& s) { trace += (trace.empty() ? "" : ";") + s; }
    String Take() {
        String t = trace;
        trace.clear();
        return t;
    }

    TGroupBox* grbDados;
    TLabel* lblNome;
    TEdit* edtNome;
    TMaskEdit* medCpf;
    TSpeedButton* sbtOk;
    TGroupBox* grbOpcoes;
    TCheckBox* chkAtivo;
    TCheckBox* chkBloq;
    TRadioButton* rbtTodos;
    TRadioButton* rbtLista;
    String trace;
    bool* destroyed = nullptr;
};

// Lets queued calls (focus restores, deferred deletes) run.
void Settle();

// A hex PNG strip of `n` square glyphs of `size` pixels, glyph i filled with colours[i].
String GlyphHex(int size, const std::vector<QColor>& colours);

class QtFormTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Shows the form and waits until its window is active and Qt's focus is settled.
    void ShowForm();
    QWidget* W(const TControl* c) const { return peer->WidgetOf(c); }
    template <class T> T* W(const TControl* c) const { return qobject_cast<T*>(W(c)); }
    TWinControl* Active() const { return form->ActiveControl(); }

    TScriptedDialogs dialogs;
    std::unique_ptr<TQtWidgetSet> ws;
    TTestForm* form = nullptr;
    TQtFormPeer* peer = nullptr;
    bool destroyed = false;
};
