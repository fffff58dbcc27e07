// The supplier's history, reached by its shortcut while a supplier is loaded: the changes of a
// save made here come first, by the captions the user knows, before an older change.
#include "E2eFixture.h"

namespace {

class HistoryTest : public E2eTest {};

TEST_P(HistoryTest, CtrlHListsTheLastSaveFirstWithCaptions) {
    db_->Sql() << "INSERT INTO PARAMFORNELOG (CDFORNECED, DTALTERACAO, CDOPERADOR, NMCAMPO, "
                  "DSVALORANT, DSVALORNOVO) VALUES ('000001', '2026-11-01 08:00:00', 'outro', "
                  "'DTREACONSIMPXML', NULL, '2026-11-20')";
    Start();
    Ok({{"do", "open"}});
    // Nothing loaded yet: the shortcut shows nothing.
    json none = Ok({{"do", "key"}, {"control", "medNrInsJurNF"}, {"key", "Ctrl+H"}});
    EXPECT_FALSE(none.contains("list")) << none;
    EXPECT_EQ(DialogTexts(Load("11222333000181")), std::vector<std::string>{});

    Ok({{"do", "click"}, {"control", "dckSimples"}}); // S -> N
    Ok({{"do", "clear"}, {"control", "dbeNrDiasBloqNF"}});
    Ok({{"do", "type"}, {"control", "dbeNrDiasBloqNF"}, {"text", "45"}});
    EXPECT_EQ(DialogTexts(Ok({{"do", "click"}, {"control", "sbtConfirma"}})),
              std::vector<std::string>{});

    const json shown = Ok({{"do", "key"}, {"control", "dckSimples"}, {"key", "Ctrl+H"}});
    ASSERT_TRUE(shown.contains("list")) << shown;
    const json list = shown["list"];
    EXPECT_EQ(list["readOnly"], true);
    EXPECT_EQ(list["columns"],
              json::array({"Data e hora", "Operador", "Campo", "Valor anterior", "Valor novo"}));
    ASSERT_EQ(list["count"], 3) << list;
    const json rows = list["rows"];
    // The save's two changes (the later written first), then the older change.
    EXPECT_EQ(rows[0][1], kOperator);
    EXPECT_EQ(rows[0][2], "Fornecedor optante pelo Simples Nacional");
    EXPECT_EQ(rows[0][3], "Sim");
    EXPECT_EQ(rows[0][4], "Não");
    EXPECT_EQ(rows[1][2], "Nº de dias para bloqueio do número de NF repetido para fornecedor e "
                          "série");
    EXPECT_EQ(rows[1][3], "30");
    EXPECT_EQ(rows[1][4], "45");
    EXPECT_EQ(rows[2],
              json::array({"01/11/2026 08:00:00", "outro",
                           "Data inicial para validações das consistências", "", "20/11/2026"}));
    EXPECT_EQ(rows[0][0].get<std::string>().substr(0, 11),
              rows[1][0].get<std::string>().substr(0, 11));
    EXPECT_EQ(list["title"], "Histórico de alterações - 000001 Distribuidora Alfa Ltda");
    // A shortcut no form knows is the driver's refusal.
    EXPECT_EQ(Do({{"do", "key"}, {"control", "medNrInsJurNF"}, {"key", "Ctrl+J"}})["ok"], false);
}

KX_E2E_ENGINES(HistoryTest);

} // namespace
