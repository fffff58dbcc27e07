// The Qt dialog service: Portuguese message boxes answered by clicking, the lazy pick list over a
// million rows with its filter, the multi-select list, and the busy overlay.
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include "QtTestSupport.h"
#include "qt/QtDialogs.h"
#include "qt/QtPickModel.h"

namespace {

// Rows "0000000".."0999999" with a description, counting what is read.
class TCountingSource : public IPickSource {
public:
    explicit TCountingSource(int n) : n_(n) {}
    int RowCount() override {
        ++counts;
        return n_;
    }
    std::vector<String> Row(int i) override {
        ++reads;
        if (i == failAt) throw Exception("Falha ao ler a linha.");
        char code[16];
        std::snprintf(code, sizeof code, "%07d", i);
        return {code, i % 2 ? "Produto ímpar" : "Produto par"};
    }
    int counts = 0, reads = 0, failAt = -1;

private:
    int n_;
};

template <class T> T* FindTopLevel() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) return t;
    return nullptr;
}

// Runs `act` on the dialog of type T once it is open (the service blocks in its own loop).
template <class T> void WhenOpen(std::function<void(T*)> act) {
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [act, tries, poll] {
        if (T* d = FindTopLevel<T>()) {
            act(d);
            *poll = nullptr; // the function held itself: let it go
            return;
        }
        if (++*tries < 200)
            QTimer::singleShot(10, *poll);
        else
            *poll = nullptr;
    };
    QTimer::singleShot(0, *poll);
}

class DialogTest : public ::testing::Test {
protected:
    TQtWidgetSet ws;
    TQtDialogService service{&ws};
};

TEST_F(DialogTest, MessageBoxesSpeakPortugueseAndReturnTheButtonClicked) {
    QString title, text;
    QStringList buttons;
    Qt::TextFormat format = Qt::AutoText;
    WhenOpen<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        format = box->textFormat();
        for (QAbstractButton* b : box->buttons())
            buttons << b->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "Sim") b->click();
    });
    int r = service.MessageBox("Confirma <b>a</b> gravação?", mtConfirmation, {mbYes, mbNo});
    EXPECT_EQ(r, mrYes);
    EXPECT_EQ(title, QString("Confirmação"));
    EXPECT_EQ(text, QString("Confirma <b>a</b> gravação?"));
    EXPECT_EQ(format, Qt::PlainText); // texts are shown as they stand, never as markup
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"Não", "Sim"}));

    // Esc answers No when there is no Cancel.
    WhenOpen<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_EQ(service.MessageBox("Excluir?", mtWarning, {mbYes, mbNo}), mrNo);

    WhenOpen<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        QTest::keyClick(box, Qt::Key_Escape);
    });
    EXPECT_EQ(service.MessageBox("Falhou.", mtError, {}), mrOk);
    EXPECT_EQ(title, QString("Erro"));
    EXPECT_EQ(TQtDialogService::Title(mtWarning), QString("Aviso"));
    EXPECT_EQ(TQtDialogService::Title(mtInformation), QString("Informação"));
}

TEST_F(DialogTest, AMillionRowListOpensReadingOnlyWhatIsShown) {
    TCountingSource rows(1000000);
    TQtPickDialog dlg("Produtos", {"Código", "Descrição"}, &rows, nullptr, nullptr);
    dlg.show();
    QApplication::processEvents();
    EXPECT_GT(dlg.Model()->rowCount(), 10);
    EXPECT_LT(rows.reads, 1000);
    EXPECT_EQ(dlg.Model()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
              QString("Descrição"));
    // Scrolling to the end of what is loaded loads the next batch only.
    int before = dlg.Model()->rowCount();
    dlg.View()->scrollToBottom();
    QApplication::processEvents();
    EXPECT_GT(dlg.Model()->rowCount(), before);
    EXPECT_LT(rows.reads, 2000);
}

TEST_F(DialogTest, TheFilterFindsARowAndEnterPicksIt) {
    TCountingSource rows(1000000);
    WhenOpen<TQtPickDialog>([](TQtPickDialog* d) {
        QTest::keyClicks(d->FilterBox(), "0000150");
        QApplication::processEvents();
        QTest::keyClick(d->FilterBox(), Qt::Key_Return);
    });
    std::optional<int> picked = service.PickRow({"Produtos", {"Código", "Descrição"}, &rows});
    ASSERT_TRUE(picked.has_value());
    EXPECT_EQ(*picked, 150);
    EXPECT_LT(rows.reads, 50000); // the filter scans step by step, not the whole list

    WhenOpen<TQtPickDialog>([](TQtPickDialog* d) { QTest::keyClick(d->View(), Qt::Key_Escape); });
    EXPECT_FALSE(service.PickRow({"Produtos", {"Código"}, &rows}).has_value());
}

TEST_F(DialogTest, FilterIgnoresCaseAndAccentsAndArrowsMoveThroughTheList) {
    TCountingSource rows(50);
    TQtPickDialog dlg("Produtos", {"Código", "Descrição"}, &rows, nullptr, nullptr);
    dlg.show();
    QTest::keyClicks(dlg.FilterBox(), "IMPAR");
    QApplication::processEvents();
    EXPECT_EQ(dlg.Model()->rowCount(), 25);
    EXPECT_EQ(dlg.CurrentSourceRow(), 1);
    QTest::keyClick(dlg.FilterBox(), Qt::Key_Down);
    EXPECT_EQ(dlg.CurrentSourceRow(), 3);
    dlg.FilterBox()->clear();
    QApplication::processEvents();
    EXPECT_EQ(dlg.Model()->rowCount(), 50);
}

TEST_F(DialogTest, ASourceThatFailsStopsTheListWithItsMessage) {
    TCountingSource rows(1000);
    rows.failAt = 30;
    TQtPickDialog dlg("Produtos", {"Código"}, &rows, nullptr, nullptr);
    dlg.show();
    QApplication::processEvents();
    EXPECT_EQ(dlg.Model()->Error(), QString("Falha ao ler a linha."));
    EXPECT_FALSE(dlg.Model()->canFetchMore({}));
    EXPECT_EQ(dlg.findChild<QLabel*>("status")->text(), QString("Falha ao ler a linha."));
    EXPECT_EQ(dlg.Model()->rowCount(), 30);
    // A filter typed and cleared shows again the rows read before the failure, and stops there.
    QTest::keyClicks(dlg.FilterBox(), "par");
    dlg.FilterBox()->clear();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    EXPECT_EQ(dlg.Model()->rowCount(), 30);
    EXPECT_FALSE(dlg.Model()->canFetchMore({}));
}

TEST_F(DialogTest, TheMultiSelectListReturnsTheCheckedRowsInListOrder) {
    TCountingSource rows(10);
    TMultiPickRequest req{"Produtos", {"Código", "Descrição"}, &rows, {}};
    req.checked = {false, true, false, true, false, false, false, false, false, false};
    WhenOpen<TQtPickDialog>([](TQtPickDialog* d) {
        QAbstractItemModel* m = d->Model();
        EXPECT_EQ(m->data(m->index(1, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
        m->setData(m->index(7, 0), Qt::Checked, Qt::CheckStateRole);
        d->View()->setCurrentIndex(m->index(1, 0));
        QTest::keyClick(d->View(), Qt::Key_Space); // unchecks row 1
        EXPECT_EQ(d->AcceptButton()->text(), QString("Confirmar"));
        d->AcceptButton()->click();
    });
    auto picked = service.PickRows(req);
    ASSERT_TRUE(picked.has_value());
    EXPECT_EQ(*picked, (std::vector<int>{3, 7}));

    WhenOpen<TQtPickDialog>([](TQtPickDialog* d) {
        for (auto* b : d->findChildren<QPushButton*>())
            if (b->text() == "Cancelar") b->click();
    });
    EXPECT_FALSE(service.PickRows(req).has_value());
}

TEST_F(DialogTest, TheBusyOverlayIsPaintedBeforeShowReturnsAndAlwaysRemoved) {
    QMainWindow main;
    main.resize(640, 480);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    ws.SetMainWindow(&main);

    service.BusyShow(nullptr, 0, "");
    TQtBusyOverlay* busy = service.Busy();
    ASSERT_NE(busy, nullptr);
    EXPECT_EQ(busy->parentWidget(), &main);
    EXPECT_TRUE(busy->isVisible());
    EXPECT_EQ(busy->geometry(), main.rect());
    EXPECT_GE(busy->Paints(), 1); // no event loop ran: it was painted inside BusyShow
    EXPECT_EQ(busy->Text(), QString("Aguarde..."));

    // A second show replaces the first: one hide clears the window.
    service.BusyShow(nullptr, 6, "Carregando fornecedor");
    EXPECT_EQ(main.findChildren<TQtBusyOverlay*>().size(), 1);
    EXPECT_EQ(service.Busy()->Text(), QString("Carregando fornecedor"));
    service.BusyHide();
    EXPECT_EQ(service.Busy(), nullptr);
    EXPECT_TRUE(main.findChildren<TQtBusyOverlay*>().isEmpty());
    service.BusyHide(); // harmless when none is shown
}

TEST_F(DialogTest, BusyKindOneCoversTheNamedForm) {
    QMainWindow main;
    ws.SetMainWindow(&main);
    auto* form = new TTestForm(nullptr);
    ws.CreatePeers(form);
    form->Show();
    service.BusyShow(form, 1, "Aplicando alterações no servidor...");
    ASSERT_NE(service.Busy(), nullptr);
    EXPECT_EQ(service.Busy()->parentWidget(), ws.WindowOf(form));
    service.BusyHide();
    ws.FormClosed(form);
    delete form;
}

} // namespace
