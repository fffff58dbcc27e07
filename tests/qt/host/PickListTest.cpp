// The pick list on the real widgets over a real query: every row, more rows as the user scrolls to
// the end, a filter typed and cleared, on tables from empty to a million rows.
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>

#include "QtHostFixture.h"
#include "brx/BtnPesquisa.h"
#include "db/ADOIBQuery.h"
#include "qt/QtDialogs.h"
#include "qt/QtPickModel.h"

namespace {

class PickListTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<TestDatabase>("sqlite", TestDatabase::Init::InProcess);
        OpenDtmDBGeral(db_->Url());
        db_->Sql() << "CREATE TABLE LISTA (CD VARCHAR(10) PRIMARY KEY, NM VARCHAR(40) NOT NULL)";
    }
    void TearDown() override {
        dialog_.reset();
        delete query_;
        CloseDtmDBGeral();
    }
    // `n` rows "0000001".."n", every tenth named "Especial", the others "Comum".
    void Fill(int n) {
        if (n == 0) return;
        db_->Sql() << "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < "
                   << n
                   << ") INSERT INTO LISTA SELECT printf('%07d', i), CASE WHEN i % 10 = 0 THEN "
                      "'Especial ' || i ELSE 'Comum' END FROM s";
    }
    // The list a search button shows, over the query opened as the screen opens its lookups.
    void Open() {
        query_ = new TADOIBQuery(nullptr);
        query_->SetADOConnection(dtmDBGeral->adcGeral);
        query_->SQL().Assign({"SELECT CD, NM FROM LISTA ORDER BY CD"});
        query_->Open();
        std::vector<TField*> fields = query_->Query()->Fields();
        source_ = std::make_unique<TDataSetPickSource>(query_->Query(), fields);
        dialog_ = std::make_unique<TQtPickDialog>("Lista", std::vector<String>{"Código", "Nome"},
                                                  source_.get(), nullptr, nullptr,
                                                  std::vector<int>{7, 40});
        dialog_->show();
        Settle();
    }
    TQtPickModel* Model() const { return dialog_->Model(); }
    QTableView* View() const { return dialog_->View(); }
    void ScrollToEnd() {
        View()->verticalScrollBar()->setValue(View()->verticalScrollBar()->maximum());
        Settle();
    }
    void Filter(const QString& text) {
        dialog_->FilterBox()->setText(text);
        for (int i = 0; i < 400 && Model()->canFetchMore({}); ++i)
            Settle();
    }
    QString Cell(int row, int col) const {
        return Model()->data(Model()->index(row, col), Qt::DisplayRole).toString();
    }

    std::unique_ptr<TestDatabase> db_;
    TADOIBQuery* query_ = nullptr;
    std::unique_ptr<TDataSetPickSource> source_;
    std::unique_ptr<TQtPickDialog> dialog_;
};

TEST_F(PickListTest, EveryRowShowsAndScrollingToTheEndFetchesTheRest) {
    for (int n : {0, 1, 9, 200, 201, 450}) {
        SCOPED_TRACE(n);
        if (n > 0) {
            TearDown();
            SetUp();
        }
        Fill(n);
        Open();
        EXPECT_TRUE(Model()->Error().isEmpty()) << Model()->Error().toStdString();
        EXPECT_EQ(Model()->rowCount(), std::min(n, TQtPickModel::kBatch));
        for (int i = 0; i < 10 && Model()->canFetchMore({}); ++i)
            ScrollToEnd();
        EXPECT_TRUE(Model()->Error().isEmpty()) << Model()->Error().toStdString();
        ASSERT_EQ(Model()->rowCount(), n);
        if (n > 0) {
            EXPECT_EQ(Cell(0, 0), "0000001");
            EXPECT_EQ(Cell(n - 1, 0), QString::asprintf("%07d", n));
        }
        // A filter that matches rows on both sides of the first batch, then cleared again.
        Filter("especial");
        EXPECT_TRUE(Model()->Error().isEmpty()) << Model()->Error().toStdString();
        EXPECT_EQ(Model()->rowCount(), n / 10);
        for (int r = 0; r < Model()->rowCount(); ++r)
            EXPECT_TRUE(Cell(r, 1).startsWith("Especial")) << Cell(r, 1).toStdString();
        Filter("");
        for (int i = 0; i < 10 && Model()->canFetchMore({}); ++i)
            ScrollToEnd();
        EXPECT_EQ(Model()->rowCount(), n) << "the rows came back after clearing the filter";
    }
}

TEST_F(PickListTest, AMillionRowsOpenAtOnceAndAreFilteredStepByStep) {
    Fill(1000000);
    Open();
    EXPECT_EQ(Model()->rowCount(), TQtPickModel::kBatch);
    EXPECT_LE(query_->FetchedRows(), 2 * TQtPickModel::kBatch)
        << "the list read more than it shows";
    ScrollToEnd();
    EXPECT_EQ(Model()->rowCount(), 2 * TQtPickModel::kBatch);
    EXPECT_LE(query_->FetchedRows(), 3 * TQtPickModel::kBatch);
    // A row near the end, found by its name as the user types it.
    dialog_->FilterBox()->setText("Especial 999990");
    for (int i = 0; i < 2000 && Model()->rowCount() == 0 && Model()->canFetchMore({}); ++i)
        Settle();
    ASSERT_EQ(Model()->rowCount(), 1);
    EXPECT_EQ(Cell(0, 0), "0999990");
    dialog_->FilterBox()->clear();
    Settle();
    EXPECT_EQ(Model()->rowCount(), TQtPickModel::kBatch);
    EXPECT_EQ(Cell(0, 0), "0000001");
}

TEST_F(PickListTest, ColumnsAreWideEnoughForTheirTextAndTheirDisplayWidth) {
    db_->Sql() << "INSERT INTO LISTA VALUES ('12.ABC.345', 'Indústria de Embalagens Sol Ltda')";
    Open();
    QFontMetrics fm(View()->font());
    for (int c = 0; c < 2; ++c) {
        QString text = Cell(0, c);
        EXPECT_GE(View()->columnWidth(c), fm.horizontalAdvance(text) + 6) << text.toStdString();
    }
    // Forty characters of name fit without cutting, whatever the rows read so far.
    EXPECT_GE(View()->columnWidth(1), fm.horizontalAdvance(QString(40, QLatin1Char('0'))));
    EXPECT_GE(dialog_->width(), View()->columnWidth(0) + View()->columnWidth(1));
}

} // namespace
