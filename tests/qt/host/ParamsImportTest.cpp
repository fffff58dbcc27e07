// The desktop's import of supplier parameters on the real widgets: the dry run's table (a change,
// a refusal, a conflict) before anything is written, then the apply the clerk confirms.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "QtHostFixture.h"
#include "hostapp/qt/QtParamsDialogs.h"

namespace {

class ParamsImportTest : public QtHostTest {
protected:
    // Every supplier exported to the file at `path` by the signed-in client; the rows written.
    static long long ExportTo(const std::string& path) {
        TNetConnection conn;
        conn.ServerName = "Kxf27400.rdmParamForne";
        std::FILE* out = std::fopen(path.c_str(), "wb");
        const long long rows = ParamsTransfer::Export(conn, {}, out);
        std::fclose(out);
        return rows;
    }
};

// The table as "line code situation column detail" lines.
std::vector<std::string> Lines(const QTableWidget* t) {
    std::vector<std::string> out;
    for (int r = 0; r < t->rowCount(); ++r) {
        std::string line;
        for (int c = 0; c < t->columnCount(); ++c)
            line += (c ? " | " : "") + t->item(r, c)->text().toStdString();
        out.push_back(line);
    }
    return out;
}

TEST_F(ParamsImportTest, TheDryRunIsShownBeforeTheClerkApplies) {
    EXPECT_EQ(qtHost_->ExportAction()->text().toStdString(), "&Exportar parâmetros…");
    EXPECT_EQ(qtHost_->ImportAction()->text().toStdString(), "&Importar parâmetros…");

    const std::string path = db_->Dir() + "/parametros.csv";
    ASSERT_EQ(ExportTo(path), 9);
    std::stringstream read;
    read << std::ifstream(path, std::ios::binary).rdbuf();
    std::string text = read.str();
    text.replace(text.find(";1500,50;"), 9, ";1800;");         // 000001: a change
    text.replace(text.find("Ltda;;N;N;"), 10, "Ltda;-3;N;N;"); // 000003: a refusal
    std::ofstream(path, std::ios::binary) << text;
    // 000008 is saved by someone else after the export: a conflict.
    db_->Sql() << "UPDATE PARAMFORNE SET IDUTPRIGXML = 'N' WHERE CDFORNECED = '000008'";

    TQtParamsImportDialog dialog(QString::fromStdString(path), &qtHost_->Window());
    dialog.show();
    EXPECT_TRUE(dialog.Check());
    const std::string days =
        "Nº de dias para bloqueio do número de NF repetido para fornecedor e série";
    EXPECT_EQ(
        Lines(dialog.Table()),
        (std::vector<std::string>{
            "2 | 000001 | Alteração | Valor Máximo Permitido | de \"1500,50\" para \"1800,00\"",
            "4 | 000003 | Recusada | " + days +
                " | o número de dias deve ser um número inteiro de 0 a 9999.",
            "9 | 000008 | Conflito | Versão | Fornecedor alterado depois da exportação (por "
            "outro usuário ou programa): exporte de novo e repita a alteração."}));
    EXPECT_EQ(
        dialog.Summary()->text().toStdString(),
        "9 linhas: 1 a alterar, 6 sem alteração, 0 já aplicadas, 1 recusadas, 1 em conflito.");
    EXPECT_TRUE(dialog.ApplyButton()->isEnabled());
    EXPECT_FALSE(dialog.CancelButton()->isEnabled());
    EXPECT_EQ(dialog.Progress()->value(), 100);
    EXPECT_TRUE(db_->LogRows("000001").empty());
    Settle();
    EXPECT_TRUE(dialog.grab().save(KX_BUILD_DIR "/params-import-preview.png"));

    // "Não" leaves everything as it was; "Sim" applies the rows that pass.
    dialogs_.answers = {"no"};
    QTest::mouseClick(dialog.ApplyButton(), Qt::LeftButton);
    EXPECT_TRUE(db_->LogRows("000001").empty());
    dialogs_.answers = {"yes"};
    QTest::mouseClick(dialog.ApplyButton(), Qt::LeftButton);
    ASSERT_EQ(db_->LogRows("000001").size(), 1u);
    EXPECT_EQ(db_->ParamRow("000001")->at("VRMAXPERMFORN"), 1800.0);
    EXPECT_EQ(Lines(dialog.Table()).front(),
              "2 | 000001 | Aplicada | Valor Máximo Permitido | de \"1500,50\" para \"1800,00\"");
    EXPECT_FALSE(dialog.ApplyButton()->isEnabled());
    ASSERT_EQ(dialogs_.dialogs.size(), 2u);
    EXPECT_EQ(dialogs_.dialogs[0].text,
              "Aplicar as alterações de 1 fornecedores? As linhas recusadas ou em conflito não "
              "serão aplicadas.");
}

// The clerk interrupts a long check: it stops after the batch under way, says so, and offers
// nothing to apply.
TEST_F(ParamsImportTest, InterruptingTheCheckStopsAfterTheBatchUnderWay) {
    db_->Sql()
        << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN) "
           "WITH RECURSIVE c(x) AS (SELECT 100 UNION ALL SELECT x + 1 FROM c WHERE x < 1300) "
           "SELECT printf('%06d', x), printf('%014d', x), 'Fornecedor ' || x, 'J' FROM c";
    const std::string path = db_->Dir() + "/muitos.csv";
    ASSERT_EQ(ExportTo(path), 1210);
    TQtParamsImportDialog dialog(QString::fromStdString(path), &qtHost_->Window());
    dialog.show();
    // The click arrives while the first batch's progress is shown.
    QTimer::singleShot(0, dialog.CancelButton(), [&] {
        EXPECT_TRUE(dialog.CancelButton()->isEnabled());
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    });
    EXPECT_FALSE(dialog.Check());
    EXPECT_EQ(dialog.Result().rows, 500);
    EXPECT_TRUE(dialog.Result().cancelled);
    EXPECT_NE(dialog.Summary()->text().toStdString().find(
                  "Interrompida a pedido: as linhas seguintes não foram lidas."),
              std::string::npos)
        << dialog.Summary()->text().toStdString();
    EXPECT_FALSE(dialog.ApplyButton()->isEnabled());
}

} // namespace
