// The real window by keyboard alone: the radio buttons and the product list reached and worked
// with keys (a picture of it is left in build/), the first key after the date box closes, the
// focus kept in sight on a small window, and the menus, message boxes and buttons of the window.
#include <QCalendarWidget>
#include <set>

#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include "QtHostFixture.h"
#include "qt/QtDialogs.h"
#include "qt/QtPickModel.h"
#include "qt/QtText.h"

namespace {

using Cli_kxf27400::TfrmParamForne;

// Runs `act` on the first visible top-level widget of type T, polled while a modal loop runs.
template <class T> void WhenShown(std::function<void(T*)> act) {
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [act, tries, poll] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) {
                act(t);
                *poll = nullptr;
                return;
            }
        if (++*tries < 300)
            QTimer::singleShot(10, *poll);
        else
            *poll = nullptr;
    };
    QTimer::singleShot(0, *poll);
}

class KeyboardTest : public QtHostTest {
protected:
    void SetUp() override {
        QtHostTest::SetUp();
        qtHost_->ScreenAction()->trigger();
        Settle();
        ASSERT_NE(Form(), nullptr);
    }
    TfrmParamForne* S() const { return static_cast<TfrmParamForne*>(Form()); }
    QWidget* W(const TControl* c) const { return ScreenPeer()->WidgetOf(c); }
    static QWidget* Focused() { return QApplication::focusWidget(); }
    // The focused widget by its name, or a button by its caption.
    static QString Where() {
        QWidget* f = Focused();
        if (auto* b = qobject_cast<QPushButton*>(f)) return b->text();
        return f ? f->objectName() : QString("(nenhum)");
    }
    void Key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::keyClick(Focused() ? Focused() : &qtHost_->Window(), k, m);
        Settle();
    }
    void Type(const char* text) {
        QTest::keyClicks(Focused(), QString::fromUtf8(text));
        Settle();
    }
    void Load(const char* inscricao) {
        UserInput::Focus(S()->medNrInsJurNF);
        UserInput::ClearText(S()->medNrInsJurNF);
        Settle();
        Type(inscricao);
        Key(Qt::Key_Tab);
        ASSERT_FALSE(S()->edtNmRasSocForn->Text().empty()) << "supplier not loaded";
    }
    // The model's focus and the widget with Qt's focus agree on `c`.
    void ExpectFocus(const TWinControl* c) {
        EXPECT_EQ(Form()->ActiveControl(), c);
        EXPECT_EQ(Focused(), W(c)) << (Focused() ? Focused()->objectName().toStdString() : "");
    }
};

// Tab enters the product choice at the checked button, the arrows choose, F4 opens the product
// list; in the list Tab goes from the filter to the rows and on to the buttons, End and Home
// reach the last and first row, Space checks, and the choice is stored.
TEST_F(KeyboardTest, TheProductListReachedAndWorkedByKeyboard) {
    Load("33987654000100"); // a count and a list: "Lista" is checked
    UserInput::Focus(S()->dbeQtRepeteProdNF);
    Settle();
    Key(Qt::Key_Tab);
    ExpectFocus(S()->rbtListaProdSerConsidera);
    Key(Qt::Key_Left);
    ExpectFocus(S()->rbtTodosProdSerConsidera);
    EXPECT_TRUE(S()->rbtTodosProdSerConsidera->Checked());
    EXPECT_FALSE(S()->btpProdSerConsidera->Enabled());
    EXPECT_TRUE(qobject_cast<QAbstractButton*>(W(S()->rbtTodosProdSerConsidera))->isChecked());
    EXPECT_EQ(S()->cdsParamForne->State(), dsEdit);
    Key(Qt::Key_Right);
    ExpectFocus(S()->rbtListaProdSerConsidera);
    ASSERT_TRUE(S()->btpProdSerConsidera->Enabled());

    SetDialogService(&qtHost_->Window().Dialogs());
    const QString png = QString(KX_BUILD_DIR) + "/lista-produto-teclado.png";
    QFile::remove(png);
    struct Seen {
        bool shown = false;
        QString first, second, third, back; // where the focus was, by name or caption
        int end = -1, home = -1, rows = 0;
        QString cellAtEnd;
    } seen;
    WhenShown<TQtPickDialog>([&](TQtPickDialog* d) {
        seen.shown = true;
        d->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(d));
        Settle();
        seen.rows = d->Model()->rowCount();
        seen.first = Where();
        Key(Qt::Key_Tab);
        seen.second = Where();
        Key(Qt::Key_End);
        seen.end = d->View()->currentIndex().row();
        seen.cellAtEnd = d->Model()->data(d->View()->currentIndex(), Qt::DisplayRole).toString();
        Key(Qt::Key_Space);
        Key(Qt::Key_Home);
        seen.home = d->View()->currentIndex().row();
        Key(Qt::Key_Space);
        Key(Qt::Key_Tab);
        seen.third = Where();
        Key(Qt::Key_Tab, Qt::ShiftModifier);
        seen.back = Where();
        d->grab().save(png);
        Key(Qt::Key_Tab);
        Key(Qt::Key_Space);              // "Confirmar"
        if (d->isVisible()) d->reject(); // the keys missed the button: the test fails below
    });
    Key(Qt::Key_F4);
    SetDialogService(&dialogs_);
    ASSERT_TRUE(seen.shown) << "F4 on \"Lista\" opened no list";
    EXPECT_EQ(seen.rows, 4);
    EXPECT_EQ(seen.first, QString("filter"));
    EXPECT_EQ(seen.second, QString("list"));
    EXPECT_EQ(seen.end, 3);
    EXPECT_EQ(seen.cellAtEnd, QString("04"));
    EXPECT_EQ(seen.home, 0);
    EXPECT_EQ(seen.third, QString("Confirmar")) << "Tab in the list went cell by cell";
    EXPECT_EQ(seen.back, QString("list"));
    EXPECT_TRUE(QFile::exists(png));
    EXPECT_EQ(S()->cdsParamForne->FieldByName("CDPRODCONSREPE")->AsString(), "01;04");
    // The window manager gives the main window back its activation; offscreen has none.
    qtHost_->Window().activateWindow();
    Settle();
    ExpectFocus(S()->rbtListaProdSerConsidera);
    EXPECT_TRUE(dialogs_.dialogs.empty());
}

// Esc → "Sim" with the caret in the consistency date closes the box by the reload: the focus
// goes on to the repetition count, in the model and on the screen, and the first key counts.
TEST_F(KeyboardTest, TheFirstKeyAfterTheDateBoxClosesCounts) {
    Load("45782163000101");
    QTest::mouseClick(W(S()->dckReaConsImpXml), Qt::LeftButton, {},
                      QPoint(6, W(S()->dckReaConsImpXml)->height() / 2));
    Settle();
    UserInput::Focus(S()->dbdDtReaConsImpXML);
    Settle();
    ExpectFocus(S()->dbdDtReaConsImpXML);
    dialogs_.answers = {"yes"};
    Key(Qt::Key_Escape);
    ASSERT_FALSE(S()->dbdDtReaConsImpXML->Enabled());
    ExpectFocus(S()->dbeQtRepeteProdNF);
    Type("7");
    EXPECT_EQ(S()->dbeQtRepeteProdNF->Text(), "7");
    Key(Qt::Key_Tab);
    ExpectFocus(S()->rbtTodosProdSerConsidera);
}

// A window too small for the screen: the screen moves back inside the area when the window
// shrinks, and every control reached by Tab is scrolled into view.
TEST_F(KeyboardTest, TheFocusStaysInSightOnASmallWindow) {
    TQtHostWindow& w = qtHost_->Window();
    QMdiSubWindow* sub = ScreenPeer()->SubWindow();
    QWidget* view = w.MdiArea()->viewport();
    // Opened in a wide window, which then shrinks to less than the screen's width from its place.
    w.resize(1400, 900);
    Settle();
    sub->move(500, 10);
    Settle();
    w.resize(650, 900);
    Settle();
    Settle();
    EXPECT_LE(sub->geometry().right(), view->width()) << "the screen stays cut off on the right";
    EXPECT_GE(sub->x(), 0);

    w.resize(700, 420);
    Settle();
    Settle();
    Load(kInscricao);
    std::set<QWidget*> visited;
    for (int i = 0; i < 40; ++i) {
        QWidget* f = Focused();
        ASSERT_NE(f, nullptr);
        visited.insert(f);
        QRect r(f->mapTo(view, QPoint(0, 0)), f->size());
        EXPECT_TRUE(view->rect().contains(r))
            << f->objectName().toStdString() << " out of sight at " << r.y() << " of "
            << view->height();
        Key(Qt::Key_Tab);
    }
    EXPECT_TRUE(visited.count(W(S()->dbeValMaxPerm)));
    EXPECT_TRUE(visited.count(W(S()->dbeQtRepeteProdNF)));
}

// The window's own pieces: the window menu names Ctrl+Shift+Tab, one Esc after a menu gives
// the keys back to the screen, a message box is framed and centred over the window even while
// the calendar is open, and the side panel's exit button says "Sair".
TEST_F(KeyboardTest, MenusMessageBoxesAndTheExitButton) {
    TQtHostWindow& w = qtHost_->Window();
    QStringList keys;
    for (QAction* a : w.WindowMenu()->actions())
        keys << a->shortcut().toString(QKeySequence::NativeText);
    EXPECT_TRUE(keys.contains(QString("Ctrl+Shift+Tab"))) << keys.join('|').toStdString();
    EXPECT_FALSE(keys.join('|').contains(QString("Backtab")));

    Load("45782163000101"); // no date stored: the consistency option opens the date box
    UserInput::Focus(S()->dbeNrDiasBloqNF);
    Settle();
    UserInput::ClearText(S()->dbeNrDiasBloqNF);
    Settle();
    for (Qt::Key menu : {Qt::Key_J, Qt::Key_O}) {
        QTest::keyClick(&w, menu, Qt::AltModifier);
        Settle();
        ASSERT_NE(QApplication::activePopupWidget(), nullptr) << "no menu opened";
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        Settle();
        Settle();
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        ExpectFocus(S()->dbeNrDiasBloqNF);
    }
    Type("12");
    EXPECT_EQ(S()->dbeNrDiasBloqNF->Text(), "12") << "the menu bar kept the keys";

    auto* sair = qobject_cast<QToolButton*>(W(FindOwned<TControl>(Form(), "sbtCancel")));
    ASSERT_NE(sair, nullptr);
    EXPECT_EQ(sair->text(), QString("Sair"));
    EXPECT_EQ(sair->toolButtonStyle(), Qt::ToolButtonTextOnly);

    QTest::mouseClick(W(S()->dckReaConsImpXml), Qt::LeftButton, {},
                      QPoint(6, W(S()->dckReaConsImpXml)->height() / 2));
    Settle();
    UserInput::Focus(S()->dbdDtReaConsImpXML);
    Settle();
    Key(Qt::Key_F4);
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(qobject_cast<QCalendarWidget*>(popup), nullptr);
    QApplication::setActiveWindow(popup); // as some window managers report it
    SetDialogService(&w.Dialogs());
    QWidget* parent = nullptr;
    QRect box, over;
    Qt::WindowFlags flags;
    WhenShown<QMessageBox>([&](QMessageBox* b) {
        Settle();
        parent = b->parentWidget();
        flags = b->windowFlags();
        box = b->frameGeometry();
        over = w.frameGeometry();
        b->reject();
    });
    MessageDlg("Teste", mtInformation, {mbOK}, 0);
    SetDialogService(&dialogs_);
    EXPECT_EQ(parent, static_cast<QWidget*>(&w));
    EXPECT_TRUE(flags & Qt::Dialog);
    EXPECT_FALSE(flags & Qt::FramelessWindowHint);
    EXPECT_LE((box.center() - over.center()).manhattanLength(), 40)
        << "box at " << box.x() << "," << box.y();
    if (QApplication::activePopupWidget()) QApplication::activePopupWidget()->close();
    Settle();
}

} // namespace
