// The real window as a clerk uses it, keyboard first: search lists on the demo data, typing after
// Tab, the proposed date, one message per focus change, focus marks, the calendar, Portuguese
// texts, the window on a small screen, shortcuts, readable display-only edits, closing with a
// pending edit and the word after a save, the product list by keyboard alone, the focus kept in
// sight. Pictures of the lists and the calendar go to build/.
#include <QAction>
#include <QCalendarWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include "QtHostFixture.h"
#include "hostapp/qt/QtLoginDialog.h"
#include "qt/QtDialogs.h"
#include "qt/QtPickModel.h"
#include "qt/QtText.h"
#include "vcl/Input.h"

namespace {

using Cli_kxf27400::TfrmParamForne;

// Messages recorded as the scripted service does, while an event loop runs as under a real modal
// box: whatever the window queued meanwhile gets its chance to run.
class TModalDialogs : public TScriptedDialogs {
public:
    int MessageBox(const String& text, TMsgDlgType type, const TMsgDlgButtons& buttons) override {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 60)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return TScriptedDialogs::MessageBox(text, type, buttons);
    }
};

// Runs `act` on the first top-level widget of type T that shows up while a modal loop runs.
template <class T> void WhenShown(std::function<void(T*)> act) {
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [act, tries, poll] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) {
                act(t);
                *poll = nullptr; // the function held itself: let it go
                return;
            }
        if (++*tries < 300)
            QTimer::singleShot(10, *poll);
        else
            *poll = nullptr;
    };
    QTimer::singleShot(0, *poll);
}

// As WhenShown, for the login dialog (a plain QDialog subclass, which qobject_cast cannot tell).
void WhenLoginShown(std::function<void(TQtLoginDialog*)> act) {
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [act, tries, poll] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = dynamic_cast<TQtLoginDialog*>(w); d && d->isVisible()) {
                act(d);
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

class ClerkTest : public QtHostTest {
protected:
    void SetUp() override {
        QtHostTest::SetUp();
        OpenFromMenu();
        ASSERT_NE(Form(), nullptr);
    }
    TfrmParamForne* S() const { return static_cast<TfrmParamForne*>(Form()); }
    QWidget* W(const TControl* c) const { return ScreenPeer()->WidgetOf(c); }
    static QWidget* Focused() { return QApplication::focusWidget(); }
    void Key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::keyClick(Focused() ? Focused() : &qtHost_->Window(), k, m);
        Settle();
    }
    void Type(const char* text) {
        QTest::keyClicks(Focused(), QString::fromUtf8(text));
        Settle();
    }
    // The supplier typed into the inscription edit and loaded by leaving it with Tab.
    void Load(const char* inscricao) {
        UserInput::Focus(S()->medNrInsJurNF);
        Settle();
        ASSERT_EQ(Focused(), W(S()->medNrInsJurNF));
        Type(inscricao);
        Key(Qt::Key_Tab);
        ASSERT_FALSE(S()->edtNmRasSocForn->Text().empty()) << "supplier not loaded";
        ASSERT_EQ(S()->cdsParamForne->State(), dsBrowse);
    }
    // Keyboard focus on `c`, as if it had been reached with Tab.
    void FocusOn(TWinControl* c) {
        UserInput::Focus(c);
        qtHost_->Settle();
        ASSERT_EQ(Focused(), W(c));
    }
    void ClickOn(const TControl* c) {
        QTest::mouseClick(W(c), Qt::LeftButton, {}, QPoint(6, W(c)->height() / 2));
        Settle();
    }
    static QString Shot(const char* name) { return QString(KX_BUILD_DIR) + "/" + name; }
};

// Every search list opens on the demo data with all its rows, its columns named in Portuguese and
// wide enough for their text; a picture of each is left in build/.
TEST_F(ClerkTest, TheSearchListsShowTheDemoData) {
    Load("33987654000100"); // quantity and a product list: the product search is enabled
    ASSERT_TRUE(S()->btpProdSerConsidera->Enabled());
    SetDialogService(&qtHost_->Window().Dialogs());
    struct Case {
        TControl* button;
        const char* table;
        const char* file;
        QStringList headers;
        QString someCell;
    };
    std::vector<Case> cases = {
        {S()->btpFornecedor,
         "FORNECEDOR",
         "lista-fornecedor.png",
         {"Inscrição", "Razão Social", "Tipo"},
         "Jurídica"},
        {S()->btnPesqGrupo,
         "GRUPOPER",
         "lista-grupo.png",
         {"Código", "Descrição"},
         "Gerência de Suprimentos"},
        {S()->btpProdSerConsidera,
         "PRODUTO WHERE CDNVPRODUTO = '1'",
         "lista-produto.png",
         {"Código", "Nome"},
         "Alimentos"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        int count = 0;
        db_->Sql() << "SELECT COUNT(*) FROM " << c.table, soci::into(count);
        ASSERT_GT(count, 1);
        QFile::remove(Shot(c.file));
        bool seen = false;
        WhenShown<TQtPickDialog>([&](TQtPickDialog* d) {
            seen = true;
            Settle();
            TQtPickModel* m = d->Model();
            EXPECT_TRUE(m->Error().isEmpty()) << m->Error().toStdString();
            EXPECT_EQ(m->rowCount(), count);
            QStringList headers, cells;
            for (int col = 0; col < m->columnCount(); ++col)
                headers << m->headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
            EXPECT_EQ(headers, c.headers);
            QFontMetrics fm(d->View()->font());
            for (int r = 0; r < m->rowCount(); ++r)
                for (int col = 0; col < m->columnCount(); ++col) {
                    QString t = m->data(m->index(r, col), Qt::DisplayRole).toString();
                    cells << t;
                    EXPECT_GE(d->View()->columnWidth(col), fm.horizontalAdvance(t))
                        << "cut: " << t.toStdString();
                }
            EXPECT_TRUE(cells.contains(c.someCell)) << cells.join('|').toStdString();
            // All columns inside the dialog: nothing to scroll sideways to.
            EXPECT_FALSE(d->View()->horizontalScrollBar()->isVisible());
            QImage shot = d->grab().toImage();
            EXPECT_TRUE(shot.save(Shot(c.file)));
            // The rows are drawn: dark text pixels inside the second row (the first is the
            // current one, light on the selection colour).
            QRect row = d->View()
                            ->visualRect(m->index(1, 0))
                            .united(d->View()->visualRect(m->index(1, m->columnCount() - 1)));
            QPoint origin = d->View()->viewport()->mapTo(d, row.topLeft());
            int dark = 0;
            for (int y = 0; y < row.height(); ++y)
                for (int x = 0; x < row.width(); ++x)
                    if (qGray(shot.pixel(origin + QPoint(x, y))) < 100) ++dark;
            EXPECT_GT(dark, 20) << "no text in the first row";
            d->reject();
        });
        QTest::mouseClick(W(c.button), Qt::LeftButton);
        Settle();
        EXPECT_TRUE(seen);
        EXPECT_TRUE(QFile::exists(Shot(c.file)));
    }
    SetDialogService(&dialogs_);
    EXPECT_TRUE(dialogs_.dialogs.empty());
}

// Tab into a field and type: the text is replaced, not added to. Ctrl+S saves, and the status
// line says so, with no dialog.
TEST_F(ClerkTest, TypingAfterTabReplacesAndCtrlSSaves) {
    Load(kInscricao); // 30 days, 1.500,50
    ASSERT_EQ(Form()->ActiveControl(), S()->dbeNrDiasBloqNF);
    Type("4");
    EXPECT_EQ(S()->dbeNrDiasBloqNF->Text(), "4");
    EXPECT_EQ(qobject_cast<QLineEdit*>(W(S()->dbeNrDiasBloqNF))->text(), QString("4"));

    FocusOn(S()->dckNGravaRelac);
    Key(Qt::Key_Tab);
    ASSERT_EQ(Form()->ActiveControl(), S()->dbeValMaxPerm);
    Type("2000");
    EXPECT_EQ(S()->dbeValMaxPerm->Text(), "2000");

    EXPECT_EQ(W(S()->sbtConfirma)->toolTip(), QString("Confirmar (Ctrl+S)"));
    Key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(S()->cdsParamForne->State(), dsBrowse);
    auto row = db_->ParamRow("000001");
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ((*row)["NRDIASBLOQNFFOR"], 4);
    EXPECT_EQ((*row)["VRMAXPERMFORN"], 2000);
    EXPECT_TRUE(dialogs_.dialogs.empty());
    QString notice = qtHost_->Window().NoticeLabel()->text();
    EXPECT_TRUE(
        notice.startsWith(QString::fromUtf8("Parâmetros do fornecedor 000001 gravados às ")))
        << notice.toStdString();
    EXPECT_EQ(ToQ(Application->StatusText()), notice);
}

// The date proposed on ticking the consistency option stays in the box when the user enters and
// leaves it, and reaches the record.
TEST_F(ClerkTest, TheProposedDateSurvivesEnteringAndLeavingTheBox) {
    Load("45782163000101"); // no parameters stored: no date
    ClickOn(S()->dckReaConsImpXml);
    ASSERT_EQ(S()->cdsParamForne->State(), dsEdit);
    auto* box = qobject_cast<QLineEdit*>(W(S()->dbdDtReaConsImpXML));
    ASSERT_EQ(S()->dbdDtReaConsImpXML->EditText(), "08/12/2026");
    Key(Qt::Key_Tab);
    ASSERT_EQ(Form()->ActiveControl(), S()->dbdDtReaConsImpXML);
    EXPECT_EQ(box->text(), QString("08/12/2026"));
    EXPECT_EQ(S()->dbdDtReaConsImpXML->EditText(), "08/12/2026");
    Key(Qt::Key_Tab);
    EXPECT_NE(Form()->ActiveControl(), S()->dbdDtReaConsImpXML);
    EXPECT_EQ(box->text(), QString("08/12/2026"));
    EXPECT_EQ(DateToStr(S()->cdsParamForne->FieldByName("DTREACONSIMPXML")->AsDateTime()),
              "08/12/2026");
    // A click into it and out again keeps it too.
    ClickOn(S()->dbdDtReaConsImpXML);
    ClickOn(S()->dbeNrDiasBloqNF);
    EXPECT_EQ(box->text(), QString("08/12/2026"));
    EXPECT_TRUE(dialogs_.dialogs.empty());
}

// A refused inscription says so once, whether the user leaves with the mouse or with Tab, even
// while the message box runs its own event loop.
TEST_F(ClerkTest, OneMessagePerFocusChange) {
    TModalDialogs modal;
    SetDialogService(&modal);
    for (bool mouse : {true, false}) {
        SCOPED_TRACE(mouse ? "mouse" : "tab");
        modal.ClearLog();
        UserInput::Focus(S()->medNrInsJurNF);
        Settle();
        Type("99999999999999");
        if (mouse)
            ClickOn(S()->dckSimples);
        else
            Key(Qt::Key_Tab);
        ASSERT_EQ(modal.dialogs.size(), 1u);
        EXPECT_EQ(modal.dialogs[0].text, "Fornecedor não cadastrado.");
        EXPECT_EQ(Form()->ActiveControl(), S()->medNrInsJurNF);
        EXPECT_EQ(Focused(), W(S()->medNrInsJurNF));
        UserInput::ClearText(S()->medNrInsJurNF);
    }
    SetDialogService(&dialogs_);
}

// Tabbing onto a check box or a radio button draws a focus mark.
TEST_F(ClerkTest, CheckBoxesAndRadioButtonsShowTheFocus) {
    Load("33987654000100");
    FocusOn(S()->dbeNrDiasBloqNF);
    Key(Qt::Key_Tab);
    ASSERT_EQ(Form()->ActiveControl(), S()->dckBloqNFRelacForn);
    QImage focused = W(S()->dckBloqNFRelacForn)->grab().toImage();
    Key(Qt::Key_Tab);
    QImage unfocused = W(S()->dckBloqNFRelacForn)->grab().toImage();
    EXPECT_NE(focused, unfocused) << "no focus mark on the check box";

    FocusOn(S()->dbeQtRepeteProdNF);
    Key(Qt::Key_Tab);
    ASSERT_EQ(Form()->ActiveControl(), S()->rbtListaProdSerConsidera);
    focused = W(S()->rbtListaProdSerConsidera)->grab().toImage();
    Key(Qt::Key_Tab, Qt::ShiftModifier);
    unfocused = W(S()->rbtListaProdSerConsidera)->grab().toImage();
    EXPECT_NE(focused, unfocused) << "no focus mark on the radio button";
}

// F4 opens the calendar of the date box; it speaks Portuguese, starts on Sunday, shows no week
// numbers, and the arrows and Enter choose the day. A picture of it is left in build/.
TEST_F(ClerkTest, TheCalendarByKeyboardAndInPortuguese) {
    Load("45782163000101");
    ClickOn(S()->dckReaConsImpXml);
    FocusOn(S()->dbdDtReaConsImpXML);
    Key(Qt::Key_F4);
    auto* cal = qobject_cast<QCalendarWidget*>(QApplication::activePopupWidget());
    ASSERT_NE(cal, nullptr) << "F4 did not open the calendar";
    EXPECT_EQ(cal->selectedDate(), QDate(2026, 12, 8));
    EXPECT_EQ(cal->firstDayOfWeek(), Qt::Sunday);
    EXPECT_EQ(cal->verticalHeaderFormat(), QCalendarWidget::NoVerticalHeader);
    auto* month = cal->findChild<QToolButton*>(QStringLiteral("qt_calendar_monthbutton"));
    ASSERT_NE(month, nullptr);
    EXPECT_EQ(month->text().toLower(), QString("dezembro"));
    QString png = Shot("calendario.png");
    QFile::remove(png);
    QImage shot = cal->grab().toImage();
    ASSERT_TRUE(shot.save(png));
    EXPECT_EQ(shot.size(), cal->size());

    Key(Qt::Key_Right);
    Key(Qt::Key_Right);
    Key(Qt::Key_Down);
    EXPECT_EQ(cal->selectedDate(), QDate(2026, 12, 17));
    Key(Qt::Key_Return);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(S()->dbdDtReaConsImpXML->EditText(), "17/12/2026");
    EXPECT_EQ(Form()->ActiveControl(), S()->dbdDtReaConsImpXML);

    // Alt+Down opens it again; Esc closes it and changes nothing.
    Key(Qt::Key_Down, Qt::AltModifier);
    ASSERT_NE(QApplication::activePopupWidget(), nullptr);
    Key(Qt::Key_Escape);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(S()->dbdDtReaConsImpXML->EditText(), "17/12/2026");
    EXPECT_TRUE(dialogs_.dialogs.empty());
}

// The toolkit's own texts in Portuguese, and a conversion message naming the field as the user
// knows it.
TEST_F(ClerkTest, PortugueseThroughout) {
    QMdiSubWindow* sub = ScreenPeer()->SubWindow();
    QStringList menu;
    for (QAction* a : sub->systemMenu()->actions())
        menu << StripMnemonic(a->text());
    EXPECT_TRUE(menu.contains(QString("Restaurar"))) << menu.join('|').toStdString();
    EXPECT_TRUE(menu.contains(QString("Fechar"))) << menu.join('|').toStdString();
    EXPECT_EQ(QLocale().name(), QString("pt_BR"));

    Load("45782163000101");
    ClickOn(S()->dckReaConsImpXml);
    FocusOn(S()->dbdDtReaConsImpXML);
    Key(Qt::Key_A, Qt::ControlModifier);
    Type("31022026");
    Key(Qt::Key_Tab);
    ASSERT_EQ(dialogs_.dialogs.size(), 1u);
    EXPECT_EQ(dialogs_.dialogs[0].text, "'31/02/2026' não é uma data válida para o campo Data "
                                        "inicial para validações das consistências.");
}

// On a small screen the host window fits it, the screen opens inside the window's area keeping
// its designed size, and dialogs offer neither minimise nor maximise; the application has its
// own icon.
TEST_F(ClerkTest, TheWindowsFitASmallScreen) {
    TQtHostWindow& w = qtHost_->Window();
    QRect avail = w.screen()->availableGeometry();
    EXPECT_TRUE(avail.contains(w.frameGeometry())) << "host window larger than the screen";
    // A window as small as a 1280 x 800 screen at scale 1.5 leaves: the screen reopens inside.
    UserInput::Close(Form());
    Settle();
    ASSERT_EQ(Form(), nullptr);
    w.resize(850, 530);
    Settle();
    OpenFromMenu();
    ASSERT_NE(Form(), nullptr);
    QMdiSubWindow* sub = ScreenPeer()->SubWindow();
    QRect room(QPoint(0, 0), w.MdiArea()->viewport()->size());
    EXPECT_GE(sub->x(), 0);
    EXPECT_GE(sub->y(), 0);
    EXPECT_LE(sub->geometry().right(), room.right()) << "the screen opens cut on the right";
    EXPECT_EQ(ScreenPeer()->Client()->size(), QSize(572, 613));
    EXPECT_FALSE(sub->windowFlags() & Qt::WindowMaximizeButtonHint) << "a fixed screen maximises";

    SetDialogService(&w.Dialogs());
    Qt::WindowFlags flags;
    WhenShown<QMessageBox>([&](QMessageBox* box) {
        flags = box->windowFlags();
        box->reject();
    });
    MessageDlg("Teste", mtInformation, {mbOK}, 0);
    SetDialogService(&dialogs_);
    EXPECT_TRUE(flags & Qt::Dialog);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    EXPECT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_FALSE(w.windowIcon().pixmap(32).isNull());
}

// Alt+C opens "Cadastros"; F4 opens the search of the focused edit; Ctrl+Tab moves between
// screens.
TEST_F(ClerkTest, TheKeyboardReachesMenusSearchesAndScreens) {
    TQtHostWindow& w = qtHost_->Window();
    QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier);
    Settle();
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr) << "Alt+C opened no menu";
    EXPECT_EQ(StripMnemonic(menu->title()), QString("Cadastros"));
    menu->close();
    Settle();

    EXPECT_EQ(W(S()->btpFornecedor)->toolTip(), QString("Pesquisar (F4)"));
    FocusOn(S()->medNrInsJurNF);
    Key(Qt::Key_F4);
    ASSERT_EQ(dialogs_.lists.size(), 1u) << "F4 opened no list";
    EXPECT_EQ(dialogs_.lists[0].title, "Fornecedor");

    auto* other = w.MdiArea()->addSubWindow(new QWidget);
    other->show();
    Settle();
    QMdiSubWindow* screen = ScreenPeer()->SubWindow();
    w.MdiArea()->setActiveSubWindow(screen);
    Settle();
    Key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(w.MdiArea()->activeSubWindow(), other);
    delete other;
    Settle();
}

// Tab enters the product choice at the checked button, the arrows choose, F4 opens the product
// list; there Tab goes from the filter to the rows and on to the buttons, End and Home reach the
// last and first row, Space checks. A picture of the list reached so is left in build/.
TEST_F(ClerkTest, TheProductListByKeyboardOnly) {
    Load("33987654000100"); // a count and a list: "Lista" is checked
    FocusOn(S()->dbeQtRepeteProdNF);
    Key(Qt::Key_Tab);
    Key(Qt::Key_Left);
    EXPECT_EQ(Focused(), W(S()->rbtTodosProdSerConsidera));
    EXPECT_TRUE(S()->rbtTodosProdSerConsidera->Checked());
    Key(Qt::Key_Right);
    ASSERT_EQ(Focused(), W(S()->rbtListaProdSerConsidera));
    SetDialogService(&qtHost_->Window().Dialogs());
    QFile::remove(Shot("lista-produto-teclado.png"));
    QStringList focus;
    int end = -1, home = -1;
    WhenShown<TQtPickDialog>([&](TQtPickDialog* d) {
        d->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(d));
        Settle();
        const auto where = [&] {
            auto* b = qobject_cast<QPushButton*>(Focused());
            focus << (b ? b->text() : Focused() ? Focused()->objectName() : QString());
        };
        where();
        Key(Qt::Key_Tab);
        where();
        Key(Qt::Key_End);
        end = d->View()->currentIndex().row();
        Key(Qt::Key_Space);
        Key(Qt::Key_Home);
        home = d->View()->currentIndex().row();
        Key(Qt::Key_Space);
        Key(Qt::Key_Tab);
        where();
        d->grab().save(Shot("lista-produto-teclado.png"));
        Key(Qt::Key_Space);
        if (d->isVisible()) d->reject(); // the keys missed "Confirmar": fails below
    });
    Key(Qt::Key_F4);
    SetDialogService(&dialogs_);
    EXPECT_EQ(focus, (QStringList{"filter", "list", "Confirmar"}));
    EXPECT_EQ(end, 3);
    EXPECT_EQ(home, 0);
    // the stored level-2 codes the list does not offer are kept after the checked ones
    EXPECT_EQ(S()->cdsParamForne->FieldByName("CDPRODCONSREPE")->AsString(),
              "01;04;0101;0102;0201");
    EXPECT_TRUE(QFile::exists(Shot("lista-produto-teclado.png")));
}

// A window smaller than the screen: the screen moves back inside when the window shrinks, and
// each control reached by Tab is scrolled into view.
TEST_F(ClerkTest, TheFocusStaysInSightOnASmallWindow) {
    TQtHostWindow& w = qtHost_->Window();
    QMdiSubWindow* sub = ScreenPeer()->SubWindow();
    QWidget* view = w.MdiArea()->viewport();
    w.resize(1400, 900);
    Settle();
    sub->move(500, 10);
    w.resize(650, 900);
    Settle();
    Settle();
    EXPECT_LE(sub->geometry().right(), view->width()) << "the screen stays cut off";
    w.resize(700, 420);
    Settle();
    Load(kInscricao);
    for (int i = 0; i < 30; ++i, Key(Qt::Key_Tab)) {
        QRect r(Focused()->mapTo(view, QPoint(0, 0)), Focused()->size());
        EXPECT_TRUE(view->rect().contains(r)) << Focused()->objectName().toStdString();
    }
}

// The window menu names Ctrl+Shift+Tab, one Esc after a menu gives the keys back to the screen,
// a message box raised over the calendar belongs to the framed window and is centred on it, and
// the exit button reads "Sair".
TEST_F(ClerkTest, MenusMessageBoxesAndTheExitButton) {
    TQtHostWindow& w = qtHost_->Window();
    QStringList keys;
    for (QAction* a : w.WindowMenu()->actions())
        keys << a->shortcut().toString(QKeySequence::NativeText);
    EXPECT_TRUE(keys.contains(QString("Ctrl+Shift+Tab"))) << keys.join('|').toStdString();
    auto* sair = qobject_cast<QToolButton*>(W(FindOwned<TControl>(Form(), "sbtCancel")));
    EXPECT_EQ(sair->text(), QString("Sair"));

    Load("45782163000101");
    FocusOn(S()->dbeNrDiasBloqNF);
    for (Qt::Key menu : {Qt::Key_J, Qt::Key_O}) {
        QTest::keyClick(&w, menu, Qt::AltModifier);
        Settle();
        ASSERT_NE(QApplication::activePopupWidget(), nullptr);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        Settle();
    }
    Type("12");
    EXPECT_EQ(S()->dbeNrDiasBloqNF->Text(), "12") << "the menu bar kept the keys";

    ClickOn(S()->dckReaConsImpXml);
    FocusOn(S()->dbdDtReaConsImpXML);
    Key(Qt::Key_F4);
    ASSERT_NE(QApplication::activePopupWidget(), nullptr);
    QApplication::setActiveWindow(QApplication::activePopupWidget()); // as X11 may report it
    SetDialogService(&w.Dialogs());
    QWidget* parent = nullptr;
    QRect box;
    WhenShown<QMessageBox>([&](QMessageBox* b) {
        Settle();
        parent = b->parentWidget();
        box = b->frameGeometry();
        b->reject();
    });
    MessageDlg("Teste", mtInformation, {mbOK}, 0);
    SetDialogService(&dialogs_);
    EXPECT_EQ(parent, &w);
    EXPECT_LE((box.center() - w.frameGeometry().center()).manhattanLength(), 40);
}

// Closing with a pending edit asks first: "Não" keeps the screen and the edit, "Sim" closes it
// and nothing is saved.
TEST_F(ClerkTest, ClosingWithAPendingEditAsksFirst) {
    Load(kInscricao);
    ClickOn(S()->dckSimples);
    ASSERT_EQ(S()->cdsParamForne->State(), dsEdit);
    std::string before = db_->Dump("SELECT * FROM PARAMFORNE WHERE CDFORNECED = '000001'");

    dialogs_.answers = {"no"};
    Key(Qt::Key_W, Qt::ControlModifier);
    ASSERT_NE(Form(), nullptr) << "closed without asking";
    ASSERT_EQ(dialogs_.dialogs.size(), 1u);
    EXPECT_EQ(dialogs_.dialogs[0].text, "Cancelar operação?");
    EXPECT_EQ(S()->cdsParamForne->State(), dsEdit);

    dialogs_.answers = {"no"};
    ScreenPeer()->SubWindow()->close(); // the window's close button
    Settle();
    ASSERT_NE(Form(), nullptr);
    EXPECT_EQ(dialogs_.dialogs.size(), 2u);

    dialogs_.answers = {"yes"};
    Key(Qt::Key_F4, Qt::ControlModifier);
    EXPECT_EQ(Form(), nullptr);
    EXPECT_EQ(dialogs_.dialogs.size(), 3u);
    EXPECT_EQ(db_->Dump("SELECT * FROM PARAMFORNE WHERE CDFORNECED = '000001'"), before);
}

// Display-only edits read well: their text stands out from their grey background (4.5:1).
TEST_F(ClerkTest, DisplayOnlyEditsAreReadable) {
    Load(kInscricao);
    for (TControl* c : std::initializer_list<TControl*>{S()->edtNmRasSocForn, S()->dbeDescGrupoXML,
                                                        S()->dbdDtReaConsImpXML}) {
        SCOPED_TRACE(c->Name());
        ASSERT_FALSE(c->Enabled());
        QImage img = W(c)->grab().toImage();
        QColor back = img.pixelColor(img.width() - 4, img.height() / 2);
        QColor ink = back;
        for (int y = 3; y < img.height() - 3; ++y)
            for (int x = 3; x < img.width() / 2; ++x)
                if (qGray(img.pixel(x, y)) < qGray(ink.rgb())) ink = img.pixelColor(x, y);
        EXPECT_GE(ContrastRatio(ink, back), 4.5)
            << ink.name().toStdString() << " on " << back.name().toStdString();
    }
}

// The keypad's decimal key types the decimal comma, so "99.50" keeps its magnitude; the full stop
// stays refused, with the system's beep.
TEST_F(ClerkTest, TheKeypadDecimalKeyTypesTheCommaAndARefusedKeyBeeps) {
    Load(kInscricao);
    struct Case {
        Qt::KeyboardModifiers modifiers;
        const char* text;
        int beeps;
    };
    const Case cases[] = {
        {Qt::KeypadModifier, "99,50", 0},
        {Qt::NoModifier, "9950", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FocusOn(S()->dbeValMaxPerm);
        UserInput::ClearText(S()->dbeValMaxPerm);
        Settle();
        const int before = Application->Beeps();
        Type("99");
        Key(Qt::Key_Period, c.modifiers);
        Type("50");
        EXPECT_EQ(S()->dbeValMaxPerm->Text(), c.text);
        EXPECT_EQ(qobject_cast<QLineEdit*>(W(S()->dbeValMaxPerm))->text(), QString(c.text));
        EXPECT_EQ(Application->Beeps() - before, c.beeps);
    }
}

// A server that wants a session the kept password cannot open brings up the login dialog at the
// call that needs it; signed in, the call goes on, and given up, it fails with the server's word.
TEST_F(ClerkTest, ALostSessionAsksForTheOperatorAtTheCallThatNeedsIt) {
    Load(kInscricao);
    AddOperator(db_->Url(), "MARIA", "senha-da-maria-1");
    const int port = server_->Port();
    server_.reset(); // the server now wants sessions, and this host holds none
    server_ = std::make_unique<InProcessServer>(db_->Url(), kToday, port, true);
    qtHost_->SignInWhenAsked();
    struct Case {
        const char* password; // "" : cancels
        const char* code;     // the supplier then loaded
        std::vector<String> dialogs;
    };
    const Case cases[] = {
        {"",
         "000001",
         {"Sessão ausente, inválida ou expirada: entre novamente com operador e senha."}},
        {"senha-da-maria-1", "000002", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(*c.password ? "entra" : "desiste");
        QStringList reasons;
        WhenLoginShown([&](TQtLoginDialog* d) {
            reasons << d->MessageLabel()->text();
            if (!*c.password) {
                d->reject();
            } else {
                d->PasswordBox()->setText(c.password);
                d->LoginButton()->click();
            }
        });
        dialogs_.dialogs.clear();
        // The window is active again once a dialog before has gone.
        qtHost_->Window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&qtHost_->Window()));
        UserInput::ClearText(S()->medNrInsJurNF);
        FocusOn(S()->medNrInsJurNF);
        Type("45782163000101");
        Key(Qt::Key_Tab);
        EXPECT_EQ(reasons, QStringList{QString::fromUtf8(
                               "Sessão ausente, inválida ou expirada: entre novamente com "
                               "operador e senha.")});
        std::vector<String> shown;
        for (const auto& d : dialogs_.dialogs)
            shown.push_back(d.text);
        EXPECT_EQ(shown, c.dialogs);
        EXPECT_EQ(S()->cdsParamForne->FieldByName("CDFORNECED")->AsString(), c.code);
    }
    TNetConnection::SetPassword("");
}

} // namespace
