// The host window: forms as MDI children, window state both ways, the menu, the hourglass cursor
// and the screenshot of the main window.
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenuBar>

#include "QtTestSupport.h"
#include "qt/QtHostWindow.h"

namespace {

class HostWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        host = std::make_unique<TQtHostWindow>();
        SetDialogService(&dialogs); // messages are recorded, not shown
        host->resize(900, 600);
        host->show();
        host->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
    }
    void TearDown() override {
        delete form;
        host.reset();
        Settle();
        SetDialogService(nullptr);
    }
    void OpenForm() {
        form = new TTestForm(Application, fsMDIChild);
        form->SetBounds(30, 20, 0, 0);
        form->SetClientSize(420, 250);
        form->Show();
        Settle();
        fp = host->WidgetSet().FormPeer(form);
        ASSERT_NE(fp, nullptr);
    }
    TScriptedDialogs dialogs;
    std::unique_ptr<TQtHostWindow> host;
    TTestForm* form = nullptr;
    TQtFormPeer* fp = nullptr;
};

TEST_F(HostWindowTest, AShownFormBecomesTheActiveMdiChildAtItsClientSize) {
    OpenForm();
    QMdiSubWindow* sub = fp->SubWindow();
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(host->MdiArea()->subWindowList().size(), 1);
    EXPECT_EQ(host->MdiArea()->activeSubWindow(), sub);
    EXPECT_TRUE(sub->isVisible());
    EXPECT_EQ(fp->Client()->size(), QSize(420, 250));
    EXPECT_EQ(sub->pos(), QPoint(30, 20));
    EXPECT_EQ(sub->windowTitle(), QString("Teste de Componentes"));
    // The focus went to the first control, inside the MDI child.
    EXPECT_EQ(QApplication::focusWidget(), fp->WidgetOf(form->medCpf));
}

TEST_F(HostWindowTest, WindowStateTravelsBothWays) {
    OpenForm();
    QMdiSubWindow* sub = fp->SubWindow();
    form->SetWindowState(wsMaximized);
    EXPECT_TRUE(sub->isMaximized());
    form->SetWindowState(wsNormal);
    EXPECT_FALSE(sub->isMaximized());

    sub->showMinimized(); // the minimise button
    Settle();
    EXPECT_EQ(form->WindowState(), wsMinimized);
    sub->showNormal();
    Settle();
    EXPECT_EQ(form->WindowState(), wsNormal);

    // An MDI child's default close action minimises it; the window follows the model.
    sub->close();
    Settle();
    EXPECT_EQ(form->WindowState(), wsMinimized);
    EXPECT_TRUE(sub->isMinimized());
    EXPECT_TRUE(form->Visible());
}

TEST_F(HostWindowTest, MenuEntriesRunAsEventsAndShowTheirForms) {
    QAction* open = host->AddMenuEntry("Cadastros", "Parâmetros por Fornecedor", [this] {
        if (!form) form = new TTestForm(Application, fsMDIChild);
        form->Show();
    });
    QAction* failing = host->AddMenuEntry(
        "Cadastros", "Falha", [] { throw Exception("Não foi possível abrir a tela."); });
    // One menu for both entries, before the window menu.
    ASSERT_EQ(host->menuBar()->actions().size(), 2);
    EXPECT_EQ(host->menuBar()->actions().at(1)->menu(), host->WindowMenu());
    open->trigger();
    open->trigger(); // a second time brings the same window to the front
    EXPECT_EQ(host->MdiArea()->subWindowList().size(), 1);
    EXPECT_NE(host->WidgetSet().FormPeer(form), nullptr);
    failing->trigger();
    ASSERT_EQ(dialogs.dialogs.size(), 1u);
    EXPECT_EQ(dialogs.dialogs[0].text, "Não foi possível abrir a tela.");
}

TEST_F(HostWindowTest, StatusBarAndHourglass) {
    host->SetServer("127.0.0.1:4711");
    host->SetOperator("MARIA");
    EXPECT_EQ(host->ServerLabel()->text(), QString("Servidor: 127.0.0.1:4711"));
    EXPECT_EQ(host->OperatorLabel()->text(), QString("Operador: MARIA"));

    Screen->SetCursor(crHourGlass);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    Screen->SetCursor(crDefault);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(HostWindowTest, ScreenshotShowsTheWindowWithItsColours) {
    OpenForm();
    form->edtNome->SetColor(clInfoBk);
    Settle();
    QString file = QString(KX_BUILD_DIR) + "/qt-host-window.png";
    QFile::remove(file);
    ASSERT_TRUE(host->SaveScreenshot(file));
    QImage shot(file);
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.size(), host->size() * host->devicePixelRatio());

    auto pixelAt = [&](QWidget* w, QPoint p) {
        QPoint at = w->mapTo(host.get(), p) * host->devicePixelRatio();
        return shot.pixelColor(at).rgb() & 0xFFFFFF;
    };
    QWidget* edit = fp->WidgetOf(form->edtNome);
    // Inside the edit, right of its (empty) text: the info background.
    EXPECT_EQ(pixelAt(edit, QPoint(edit->width() - 8, edit->height() / 2)), 0xFFFFE1u);
    // The form's own surface between the group boxes: the button face.
    EXPECT_EQ(pixelAt(fp->Client(), QPoint(4, 120)), 0xD4D0C8u);
}

} // namespace
