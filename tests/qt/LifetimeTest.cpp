// Forms and controls the model frees while their widgets exist: the widgets go, nothing freed is
// touched, and input keeps working on what remains.
#include <QCheckBox>
#include <QLineEdit>

#include "QtTestSupport.h"

namespace {

class LifetimeTest : public QtFormTest {
protected:
    void SetUp() override {
        QtFormTest::SetUp();
        ShowForm();
    }
};

TEST_F(LifetimeTest, AFormFreedOnCloseLosesItsWindowAfterTheEvent) {
    form->OnClose = [](TObject*, TCloseAction& a) { a = caFree; };
    QPointer<QWidget> window = peer->Window();
    QPointer<QWidget> edit = W(form->edtNome);
    window->close(); // the close button
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(ws->FormPeer(form), nullptr);
    Settle();
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(edit.isNull());
}

TEST_F(LifetimeTest, TheModelDecidesWhetherTheWindowCloses) {
    form->OnClose = [](TObject*, TCloseAction& a) { a = caNone; };
    peer->Window()->close();
    Settle();
    EXPECT_FALSE(destroyed);
    EXPECT_TRUE(peer->Window()->isVisible());

    form->OnClose = nullptr; // a normal form hides
    peer->Window()->close();
    Settle();
    EXPECT_FALSE(destroyed);
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(peer->Window()->isVisible());
}

TEST_F(LifetimeTest, AFormFreedFromInsideAClickHandlerDoesNotCrash) {
    form->chkAtivo->OnClick = [this](TObject*) { form->Release(); };
    QTest::mouseClick(W(form->chkAtivo), Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_TRUE(destroyed);
    Settle();
    EXPECT_EQ(ws->FormPeer(form), nullptr);
}

TEST_F(LifetimeTest, AControlFreedWhileShownIsDroppedAndInputGoesOn) {
    QPointer<QWidget> gone = W(form->chkBloq);
    delete form->chkBloq;
    form->chkBloq = nullptr;
    // The next input notices the control left the form.
    QTest::mouseClick(W(form->chkAtivo), Qt::LeftButton, {}, QPoint(5, 8));
    Settle();
    EXPECT_TRUE(gone.isNull());
    EXPECT_TRUE(form->chkAtivo->Checked());
    EXPECT_EQ(form->TabSequence().size(), 4u);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    Settle();
    EXPECT_EQ(form->ActiveControl(), form->rbtTodos);
    EXPECT_EQ(QApplication::focusWidget(), W(form->rbtTodos));
}

TEST_F(LifetimeTest, FreeingTheFocusedControlMovesNoFocusBehindTheModelsBack) {
    QTest::mouseClick(W(form->edtNome), Qt::LeftButton, {}, QPoint(5, 8));
    Settle();
    ASSERT_EQ(QApplication::focusWidget(), W(form->edtNome));
    form->Take();
    delete form->edtNome;
    form->edtNome = nullptr;
    ws->AfterInput(false);
    Settle();
    // Qt would hand the focus to the next widget; the model's enter events must not run for it.
    EXPECT_EQ(form->Take(), "");
    EXPECT_EQ(form->ActiveControl(), nullptr);
    QWidget* fw = QApplication::focusWidget();
    EXPECT_TRUE(!fw || !peer->Client()->isAncestorOf(fw));
    QTest::mouseClick(W(form->chkAtivo), Qt::LeftButton, {}, QPoint(5, 8));
    Settle();
    EXPECT_EQ(form->Take(), "Enter:chkAtivo;Click:chkAtivo");
    EXPECT_EQ(QApplication::focusWidget(), W(form->chkAtivo));
}

TEST_F(LifetimeTest, AControlMovedAcrossContainersFollowsAndNewOnesAppear) {
    form->edtNome->SetParent(form->grbOpcoes);
    EXPECT_EQ(W(form->edtNome)->parentWidget(), W(form->grbOpcoes));
    auto* extra = new TEdit(form);
    extra->SetName("edtExtra");
    extra->SetParent(form->grbDados);
    extra->SetBounds(60, 80, 100, 21);
    extra->SetText("novo");
    ws->AfterInput(false);
    ASSERT_NE(W<QLineEdit>(extra), nullptr);
    EXPECT_EQ(W<QLineEdit>(extra)->text(), QString("novo"));
    EXPECT_EQ(W(extra)->geometry(), QRect(60, 80, 100, 21));

    // Unparented, the control is alive but shown nowhere; its old widget goes.
    QPointer<QWidget> old = W(extra);
    extra->SetParent(nullptr);
    Settle();
    EXPECT_TRUE(old.isNull());
    EXPECT_EQ(extra->Peer(), nullptr);
    extra->SetText("sem pai"); // nothing listens any more
    delete extra;
}

TEST_F(LifetimeTest, AWidgetSetGoingFirstReleasesEveryComponent) {
    ws.reset();
    EXPECT_EQ(form->Peer(), nullptr);
    EXPECT_EQ(form->edtNome->Peer(), nullptr);
    EXPECT_EQ(Application->Peer(), nullptr);
    form->edtNome->SetText("sem janela"); // no peer is called
}

} // namespace
