// User input on the widgets reaches the model only through its input door, and Qt shows the
// outcome: typed text, key filters, focus vetoes, clicks, tab order, caret moves and Delete.
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>

#include "QtTestSupport.h"

namespace {

class InputTest : public QtFormTest {
protected:
    void SetUp() override {
        QtFormTest::SetUp();
        ShowForm();
        form->Take();
    }
    static QWidget* Focused() { return QApplication::focusWidget(); }
    void Key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::keyClick(Focused(), k, m);
        Settle();
    }
    // Key events carrying the text, as a keyboard layout produces them (accented letters too).
    void Type(const QString& text) {
        for (QChar ch : text) {
            QKeyEvent press(QEvent::KeyPress, ch == ' ' ? Qt::Key_Space : 0, Qt::NoModifier,
                            QString(ch));
            QApplication::sendEvent(Focused(), &press);
            QKeyEvent release(QEvent::KeyRelease, press.key(), Qt::NoModifier, QString(ch));
            QApplication::sendEvent(Focused(), &release);
        }
        Settle();
    }
    void ClickOn(const TControl* c) {
        QTest::mouseClick(W(c), Qt::LeftButton, {}, QPoint(5, W(c)->height() / 2));
        Settle();
    }
};

TEST_F(InputTest, ShowingFocusesTheFirstControlInBothWorlds) {
    EXPECT_EQ(Active(), form->medCpf);
    EXPECT_EQ(Focused(), W(form->medCpf));
}

TEST_F(InputTest, TypingIntoTheMaskedEditFillsTheMask) {
    Type("123456789x09"); // the letter has no place in the mask
    EXPECT_EQ(form->medCpf->EditText(), "123.456.789-09");
    EXPECT_EQ(form->medCpf->Text(), "12345678909");
    EXPECT_EQ(W<QLineEdit>(form->medCpf)->text(), QString("123.456.789-09"));
    Key(Qt::Key_Backspace);
    EXPECT_EQ(form->medCpf->EditText(), "123.456.789-0_");
    EXPECT_EQ(W<QLineEdit>(form->medCpf)->text(), QString("123.456.789-0_"));
}

TEST_F(InputTest, KeyFiltersAndLimitsOfTheModelApply) {
    form->edtNome->OnKeyPress = [](TObject*, Char& k) {
        if (k == U'x') k = 0;
    };
    form->edtNome->SetMaxLength(6);
    ClickOn(form->edtNome);
    ASSERT_EQ(Active(), form->edtNome);
    Type("açúxcar doce");
    EXPECT_EQ(form->edtNome->Text(), "açúcar");
    EXPECT_EQ(W<QLineEdit>(form->edtNome)->text(), QString("açúcar"));
}

TEST_F(InputTest, EnterAndEscReachTheFormsKeyPreview) {
    std::vector<Char> seen;
    form->SetKeyPreview(true);
    form->OnKeyPress = [&](TObject*, Char& k) { seen.push_back(k); };
    Key(Qt::Key_Return);
    Key(Qt::Key_Escape);
    Type("7");
    EXPECT_EQ(seen, (std::vector<Char>{13, 27, U'7'}));
}

TEST_F(InputTest, ARaisingExitKeepsTheFocusInBothWorlds) {
    form->medCpf->OnExit = [](TObject*) { throw Exception("CPF inválido."); };
    ClickOn(form->edtNome);
    EXPECT_EQ(Active(), form->medCpf);
    EXPECT_EQ(Focused(), W(form->medCpf));
    Key(Qt::Key_Tab);
    EXPECT_EQ(Active(), form->medCpf);
    EXPECT_EQ(Focused(), W(form->medCpf));
    // Each attempt ran the exit once and showed its message once.
    ASSERT_EQ(dialogs.dialogs.size(), 2u);
    EXPECT_EQ(dialogs.dialogs[0].kind, "error");
    EXPECT_EQ(dialogs.dialogs[0].text, "CPF inválido.");

    // Once the exit passes, the click moves the focus and the typing goes to the new control.
    form->medCpf->OnExit = nullptr;
    ClickOn(form->edtNome);
    EXPECT_EQ(Active(), form->edtNome);
    EXPECT_EQ(Focused(), W(form->edtNome));
    Type("ok");
    EXPECT_EQ(form->edtNome->Text(), "ok");
    EXPECT_EQ(form->medCpf->EditText(), "___.___.___-__");
}

TEST_F(InputTest, AHandlerMovingTheFocusElsewhereIsMirrored) {
    form->edtNome->OnEnter = [this](TObject*) { form->chkBloq->SetFocus(); };
    ClickOn(form->edtNome);
    EXPECT_EQ(Active(), form->chkBloq);
    EXPECT_EQ(Focused(), W(form->chkBloq));
}

TEST_F(InputTest, CheckBoxAndRadioClicksReachTheModel) {
    ClickOn(form->chkAtivo);
    EXPECT_TRUE(form->chkAtivo->Checked());
    EXPECT_TRUE(W<QCheckBox>(form->chkAtivo)->isChecked());
    EXPECT_EQ(Active(), form->chkAtivo);
    EXPECT_EQ(form->Take(), "Exit:medCpf;Enter:chkAtivo;Click:chkAtivo");

    Type(" "); // the space bar toggles through the model's key handling
    EXPECT_FALSE(form->chkAtivo->Checked());
    EXPECT_FALSE(W<QCheckBox>(form->chkAtivo)->isChecked());
    EXPECT_EQ(form->Take(), "Click:chkAtivo");

    ClickOn(form->rbtLista);
    EXPECT_TRUE(form->rbtLista->Checked());
    EXPECT_FALSE(form->rbtTodos->Checked());
    EXPECT_TRUE(W<QRadioButton>(form->rbtLista)->isChecked());
    EXPECT_FALSE(W<QRadioButton>(form->rbtTodos)->isChecked());
    // Clicking the checked radio button again leaves it checked (Qt alone would uncheck it).
    ClickOn(form->rbtLista);
    EXPECT_TRUE(W<QRadioButton>(form->rbtLista)->isChecked());
}

// A check box whose owner refuses user clicks, as a data-aware one does while its data is closed.
class TLockedCheckBox : public TCheckBox {
public:
    using TCheckBox::TCheckBox;
    void UserClick() override {}
};

TEST_F(InputTest, AClickTheModelRefusesLeavesTheWidgetAsTheModelSays) {
    auto* locked = new TLockedCheckBox(form);
    locked->SetName("chkTravado");
    locked->SetParent(form->grbOpcoes);
    locked->SetBounds(10, 70, 120, 17);
    ws->SyncForms(); // controls created at run time get peers
    ASSERT_NE(W(locked), nullptr);
    ClickOn(locked);
    EXPECT_EQ(Active(), locked);
    EXPECT_FALSE(locked->Checked());
    EXPECT_FALSE(W<QCheckBox>(locked)->isChecked());
}

TEST_F(InputTest, SpeedButtonClicksRunTheModelsClickWithoutTakingTheFocus) {
    ClickOn(form->sbtOk);
    EXPECT_EQ(form->Take(), "Click:sbtOk");
    EXPECT_EQ(Active(), form->medCpf);
    form->sbtOk->SetEnabled(false);
    ClickOn(form->sbtOk);
    EXPECT_EQ(form->Take(), "");
}

TEST_F(InputTest, TabFollowsTheModelsTabOrderThroughGroupBoxes) {
    std::vector<TWinControl*> expected = form->TabSequence();
    ASSERT_EQ(expected, (std::vector<TWinControl*>{form->medCpf, form->edtNome, form->chkBloq,
                                                   form->chkAtivo, form->rbtTodos}));
    // Qt's own focus chain runs in the same order.
    for (size_t i = 0; i + 1 < expected.size(); ++i) {
        QWidget* w = W(expected[i])->nextInFocusChain();
        while (w != W(expected[i + 1]) && !(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
        EXPECT_EQ(w, W(expected[i + 1])) << expected[i]->Name();
    }
    for (size_t i = 1; i <= expected.size(); ++i) {
        Key(Qt::Key_Tab);
        TWinControl* want = expected[i % expected.size()];
        EXPECT_EQ(Active(), want) << i;
        EXPECT_EQ(Focused(), W(want)) << i;
    }
    Key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(Active(), expected.back());

    // A tab order changed at run time is followed at once.
    form->grbOpcoes->SetTabOrder(0);
    form->FocusControl(form->rbtTodos);
    Settle();
    Key(Qt::Key_Tab);
    EXPECT_EQ(Active(), form->medCpf);
}

TEST_F(InputTest, CaretMovesAndDeleteWorkOnTheModelsText) {
    ClickOn(form->edtNome);
    Type("abcdef");
    Key(Qt::Key_Home);
    EXPECT_EQ(form->edtNome->SelStart(), 0);
    Key(Qt::Key_Right);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(form->edtNome->SelStart(), 1);
    EXPECT_EQ(form->edtNome->SelLength(), 2);
    Type("X"); // replaces the selection
    EXPECT_EQ(form->edtNome->Text(), "aXdef");
    Key(Qt::Key_Delete);
    EXPECT_EQ(form->edtNome->Text(), "aXef");
    Key(Qt::Key_End);
    Key(Qt::Key_Delete); // nothing after the caret
    Key(Qt::Key_Backspace);
    EXPECT_EQ(form->edtNome->Text(), "aXe");
    EXPECT_EQ(W<QLineEdit>(form->edtNome)->text(), QString("aXe"));
    EXPECT_EQ(W<QLineEdit>(form->edtNome)->cursorPosition(), 3);

    // Delete in a masked edit blanks the position and keeps the literals.
    ClickOn(form->medCpf);
    Type("12345678909");
    Key(Qt::Key_Home);
    Key(Qt::Key_Delete);
    EXPECT_EQ(form->medCpf->EditText(), "_23.456.789-09");
}

TEST_F(InputTest, UndoAndContextEditingCannotBypassTheModel) {
    ClickOn(form->edtNome);
    Type("abc");
    Key(Qt::Key_Z, Qt::ControlModifier);
    Key(Qt::Key_Insert);
    EXPECT_EQ(form->edtNome->Text(), "abc");
    EXPECT_EQ(W<QLineEdit>(form->edtNome)->text(), QString("abc"));
    EXPECT_EQ(W(form->edtNome)->contextMenuPolicy(), Qt::NoContextMenu);
}

} // namespace
