// The pick lists through hostapp: the supplier search and the multi-select product list.
#include "E2eFixture.h"

#include <algorithm>

namespace {

class ListTest : public E2eTest {
protected:
    int SupplierCount() {
        int n = 0;
        db_->Sql() << "SELECT COUNT(*) FROM FORNECEDOR", soci::into(n);
        return n;
    }
};

// The index of the row whose first column is text, or -1.
int RowOf(const json& list, const std::string& text) {
    const json& rows = list["rows"];
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i][0] == text) return static_cast<int>(i);
    return -1;
}

TEST_P(ListTest, SupplierSearchListsFormattedRowsAndAPickIsLoadedOnLeaving) {
    Start();
    Ok({{"do", "open"}});
    json cancel = Ok({{"do", "pick"}, {"control", "btpFornecedor"}, {"cancel", true}});
    EXPECT_EQ(DialogTexts(cancel), std::vector<std::string>{});
    const json& list = cancel["list"];
    EXPECT_EQ(list["title"], "Fornecedor");
    EXPECT_EQ(list["columns"], json({"Inscrição", "Razão Social", "Tipo"}))
        << "the supplier code is not shown";
    EXPECT_EQ(list["count"], SupplierCount());
    EXPECT_EQ(list["rows"].size(), list["count"].get<size_t>());
    EXPECT_FALSE(list.contains("checked")) << "a single pick has no checked keys";

    // Every person type with its inscription laid out by its mask and its word.
    struct Expected {
        const char* inscription;
        const char* name;
        const char* type;
    };
    for (const Expected& e : {
             Expected{"529.982.247-25", "João Carlos Pereira", "Física"},
             Expected{"11.222.333/0001-81", "Distribuidora Alfa Ltda", "Jurídica"},
             Expected{"12.ABC.345/01DE-35", "Atacadista Gama Ltda", "Jurídica"},
             Expected{"0045871236", "Cooperativa Agrícola Vale Verde", "OUTROS"},
             Expected{"A98765432", "Exportadora Andina S.A.", "Insc. Juridica"},
         }) {
        const int i = RowOf(list, e.inscription);
        ASSERT_GE(i, 0) << e.inscription;
        EXPECT_EQ(list["rows"][i], json({e.inscription, e.name, e.type}));
    }
    // Ordered by person type (F, I, J, O), then by inscription within a type.
    std::vector<std::string> types;
    for (const json& r : list["rows"])
        types.push_back(r[2]);
    std::vector<std::string> order = {"Física", "Insc. Juridica", "Jurídica", "OUTROS"};
    EXPECT_TRUE(std::is_sorted(types.begin(), types.end(), [&](const auto& a, const auto& b) {
        return std::find(order.begin(), order.end(), a) < std::find(order.begin(), order.end(), b);
    }));
    EXPECT_LT(RowOf(list, "11.222.333/0001-81"), RowOf(list, "33.987.654/0001-00"));

    json s = State();
    EXPECT_EQ(s["controls"]["medNrInsJurNF"]["text"], "") << "a cancelled search changes nothing";
    EXPECT_EQ(s["record"]["state"], "inactive");

    const int zeta = RowOf(list, "33.987.654/0001-00");
    ASSERT_GE(zeta, 0);
    json pick = Ok({{"do", "pick"}, {"control", "btpFornecedor"}, {"row", zeta}});
    EXPECT_EQ(DialogTexts(pick), std::vector<std::string>{});
    EXPECT_EQ(BusyKinds(pick), std::vector<int>{}) << "nothing is loaded by the pick itself";
    EXPECT_EQ(pick["list"]["rows"], list["rows"]);
    s = State();
    EXPECT_EQ(s["screen"]["focus"], "medNrInsJurNF");
    EXPECT_EQ(s["controls"]["medNrInsJurNF"]["text"], "33987654000100") << "the stored text";
    EXPECT_EQ(s["controls"]["edtNmRasSocForn"]["text"], "Transportadora Zeta Ltda");
    EXPECT_EQ(s["record"]["state"], "inactive");

    json leave = Ok({{"do", "tab"}});
    EXPECT_EQ(BusyKinds(leave), std::vector<int>{6});
    s = State();
    EXPECT_EQ(s["record"]["fields"]["CDFORNECED"], "000008");
    EXPECT_EQ(s["controls"]["medNrInsJurNF"]["text"], "33.987.654/0001-00");
    EXPECT_EQ(s["controls"]["lblIdForne"]["caption"], "Não Homologado");
    EXPECT_EQ(s["controls"]["rbtListaProdSerConsidera"]["checked"], true);
    EXPECT_EQ(s["controls"]["btpProdSerConsidera"]["enabled"], true);
    EXPECT_EQ(s["globals"]["stProdSerConsidera"], "0101;0102;0201");
    EXPECT_EQ(s["record"]["state"], "browse") << "the radio buttons set by the load start no edit";
}

TEST_P(ListTest, ARowTheListDoesNotHaveFailsAfterTheListWasShown) {
    ASSERT_NO_FATAL_FAILURE(OpenAndLoad("11222333000181"));
    json before = State();
    for (int row : {SupplierCount(), -1}) {
        json a = Do({{"do", "pick"}, {"control", "btpFornecedor"}, {"row", row}});
        EXPECT_EQ(a["ok"], false) << row;
        EXPECT_EQ(a["error"], "a lista não tem a linha " + std::to_string(row));
        EXPECT_EQ(a["list"]["count"], SupplierCount()) << "the list was shown";
        EXPECT_EQ(State(), before) << row;
    }
}

TEST_P(ListTest, ProductListIsChosenStoredAndOfferedCheckedAgain) {
    ASSERT_NO_FATAL_FAILURE(OpenAndLoad("11222333000181"));
    json closed = Do({{"do", "picklist"}, {"control", "btpProdSerConsidera"}, {"keys", {"01"}}});
    EXPECT_EQ(closed["ok"], false);
    EXPECT_EQ(closed["error"], "controle desabilitado: btpProdSerConsidera")
        << "no repeat count, no product choice";
    EXPECT_EQ(State()["record"]["state"], "browse");

    Ok({{"do", "type"}, {"control", "dbeQtRepeteProdNF"}, {"text", "2"}});
    json c = State()["controls"];
    EXPECT_EQ(c["rbtListaProdSerConsidera"]["enabled"], true);
    EXPECT_EQ(c["btpProdSerConsidera"]["enabled"], false) << "\"Todos\" is still selected";
    Ok({{"do", "click"}, {"control", "rbtListaProdSerConsidera"}});
    EXPECT_EQ(Control("btpProdSerConsidera")["enabled"], true);

    json chosen =
        Ok({{"do", "picklist"}, {"control", "btpProdSerConsidera"}, {"keys", {"03", "01"}}});
    EXPECT_EQ(DialogTexts(chosen), std::vector<std::string>{});
    // Level-1 products only, by code, as the database holds them.
    json expected = json::array();
    soci::rowset<soci::row> rows =
        db_->Sql().prepare
        << "SELECT CDARVPROD, NMPRODUTO FROM PRODUTO WHERE CDNVPRODUTO = '1' ORDER BY CDARVPROD";
    for (const soci::row& r : rows)
        expected.push_back({r.get<std::string>(0), r.get<std::string>(1)});
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_EQ(chosen["list"], json({{"title", "Produto"},
                                    {"columns", {"Código", "Nome"}},
                                    {"rows", expected},
                                    {"count", 4},
                                    {"checked", json::array()}}));
    json s = State();
    EXPECT_EQ(s["record"]["fields"]["CDPRODCONSREPE"], "01;03") << "in list order";
    EXPECT_EQ(s["globals"]["stProdSerConsidera"], "01;03");

    json confirm = Ok({{"do", "click"}, {"control", "sbtConfirma"}});
    EXPECT_EQ(DialogTexts(confirm), std::vector<std::string>{});
    auto row = db_->ParamRow("000001");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->at("QTREPETEPRODNF"), 2);
    EXPECT_EQ(row->at("CDPRODCONSREPE"), "01;03");
    s = State();
    EXPECT_EQ(s["record"]["state"], "browse");
    EXPECT_EQ(s["controls"]["rbtListaProdSerConsidera"]["checked"], true) << "after the reload";
    EXPECT_EQ(s["globals"]["stProdSerConsidera"], "01;03");

    // Offered again with the stored keys checked; a cancel keeps them.
    json again = Ok({{"do", "picklist"}, {"control", "btpProdSerConsidera"}, {"cancel", true}});
    EXPECT_EQ(again["list"]["checked"], json({"01", "03"}));
    s = State();
    EXPECT_EQ(s["record"]["state"], "edit") << "the button starts the edit before the list";
    EXPECT_EQ(s["record"]["fields"]["CDPRODCONSREPE"], "01;03");
    EXPECT_EQ(s["globals"]["stProdSerConsidera"], "01;03");
    Ok({{"do", "key"}, {"control", "dbeQtRepeteProdNF"}, {"key", "Esc"}, {"answers", {"yes"}}});
    EXPECT_EQ(State()["record"]["state"], "browse");
}

TEST_P(ListTest, AProductKeyTheListDoesNotHaveChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(OpenAndLoad("33987654000100"));
    json before = State();
    ASSERT_EQ(before["record"]["fields"]["CDPRODCONSREPE"], "0101;0102;0201");
    json a = Do({{"do", "picklist"}, {"control", "btpProdSerConsidera"}, {"keys", {"02", "99"}}});
    EXPECT_EQ(a["ok"], false);
    EXPECT_EQ(a["error"], "a lista não tem a chave 99");
    EXPECT_EQ(a["list"]["count"], 4) << "the list was shown";
    json s = State();
    EXPECT_EQ(s["record"]["fields"]["CDPRODCONSREPE"], "0101;0102;0201")
        << "a refused choice must not be half applied";
    EXPECT_EQ(s["globals"]["stProdSerConsidera"], "0101;0102;0201");
}

KX_E2E_ENGINES(ListTest);

} // namespace
