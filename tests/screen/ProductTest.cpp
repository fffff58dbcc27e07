// The product repetition limit: the count enables the product choice, "Todos" or a list picked
// from the products of level 1 is stored with it, and a count below 1 is refused.
#include "ScreenFixture.h"

namespace {
const char* const kMaior = "error:Nº de vezes que um produto poderá se repetir no lançamento da "
                           "NF deve ser maior que 0 (zero).";
const char* const kChoice[] = {"rbtTodosProdSerConsidera", "rbtListaProdSerConsidera",
                               "lblObsProdSerConsidera", "grbProdSerConsidera"};
} // namespace

class ProductTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_TRUE(Open());
    }
    void ExpectChoiceEnabled(bool on, bool search) {
        for (const char* c : kChoice)
            EXPECT_EQ(Component<TControl>(c)->Enabled(), on) << c;
        EXPECT_EQ(Form()->btpProdSerConsidera->Enabled(), search);
    }
    json Stored(const char* code, const char* field) {
        auto row = db_->ParamRow(code);
        return row ? row->at(field) : json("(sem linha)");
    }
    bool Todos() const { return Form()->rbtTodosProdSerConsidera->Checked(); }
    bool Lista() const { return Form()->rbtListaProdSerConsidera->Checked(); }
};

TEST_F(ProductTest, CountEnablesTheChoiceAndListEnablesTheSearch) {
    ASSERT_TRUE(Load("11222333000181"));
    ExpectChoiceEnabled(false, false);
    ASSERT_TRUE(Type("dbeQtRepeteProdNF", "2"));
    EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
    ExpectChoiceEnabled(true, false);
    ASSERT_TRUE(Click("rbtListaProdSerConsidera"));
    EXPECT_TRUE(Lista());
    ExpectChoiceEnabled(true, true);
    // Emptying the count disables everything at once and keeps the choice made.
    ASSERT_TRUE(Clear("dbeQtRepeteProdNF"));
    ExpectChoiceEnabled(false, false);
    EXPECT_TRUE(Lista());
    ASSERT_TRUE(Type("dbeQtRepeteProdNF", "4"));
    ExpectChoiceEnabled(true, true);
    ASSERT_TRUE(Click("rbtTodosProdSerConsidera"));
    ExpectChoiceEnabled(true, false);
}

TEST_F(ProductTest, RadioButtonsAndSearchStartAnEditFromBrowse) {
    db_->Sql() << "UPDATE PARAMFORNE SET QTREPETEPRODNF = 2 WHERE CDFORNECED = '000001'";
    ASSERT_TRUE(Load("11222333000181"));
    ASSERT_TRUE(Todos());
    ASSERT_EQ(Form()->cdsParamForne->State(), dsBrowse);
    ASSERT_TRUE(Click("rbtListaProdSerConsidera"));
    EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
    EXPECT_TRUE(Form()->sbtConfirma->Enabled());
    EXPECT_TRUE(Form()->btpProdSerConsidera->Enabled());
    dialogs_.answers.push_back("yes");
    ASSERT_TRUE(Click("sbtCancela"));
    EXPECT_TRUE(Todos());
    EXPECT_FALSE(Form()->btpProdSerConsidera->Enabled());

    ASSERT_TRUE(Load("33987654000100"));
    ASSERT_TRUE(Lista());
    ASSERT_EQ(Form()->cdsParamForne->State(), dsBrowse);
    ASSERT_TRUE(Click("rbtTodosProdSerConsidera"));
    EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
    EXPECT_TRUE(Form()->sbtCancela->Enabled());
    EXPECT_FALSE(Form()->btpProdSerConsidera->Enabled());
    dialogs_.answers.push_back("yes");
    ASSERT_TRUE(Click("sbtCancela"));
    EXPECT_TRUE(Lista());

    // A cancelled search still leaves the edit it started, with the list untouched.
    Dialogs();
    dialogs_.picks.push_back(PickCancel());
    ASSERT_TRUE(Click("btpProdSerConsidera"));
    EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
    EXPECT_TRUE(Form()->sbtConfirma->Enabled());
    EXPECT_EQ(Field("CDPRODCONSREPE")->AsString(), "0101;0102;0201");
    EXPECT_EQ(Cli_kxf27400::stProdSerConsidera, "0101;0102;0201");
    EXPECT_TRUE(Dialogs().empty());
}

TEST_F(ProductTest, ListSearchOffersLevelOneProductsWithTheCurrentListChecked) {
    db_->Sql() << "UPDATE PARAMFORNE SET CDPRODCONSREPE = '02;04' WHERE CDFORNECED = '000008'";
    ASSERT_TRUE(Load("33987654000100"));
    ASSERT_EQ(Cli_kxf27400::stProdSerConsidera, "02;04");
    dialogs_.picks.push_back(PickChecked({"03", "01"}));
    ASSERT_TRUE(Click("btpProdSerConsidera"));
    EXPECT_TRUE(dialogs_.errors.empty());
    ASSERT_EQ(dialogs_.lists.size(), 1u);
    const auto& l = dialogs_.lists[0];
    EXPECT_TRUE(l.multi);
    EXPECT_EQ(l.title, "Produto");
    EXPECT_EQ(l.columns, (std::vector<String>{"Código", "Nome"}));
    EXPECT_EQ(l.rows,
              (std::vector<std::vector<String>>{
                  {"01", "Alimentos"}, {"02", "Bebidas"}, {"03", "Limpeza"}, {"04", "Higiene"}}));
    EXPECT_EQ(l.checked, (std::vector<String>{"02", "04"}));
    EXPECT_EQ(Field("CDPRODCONSREPE")->AsString(), "01;03");
    EXPECT_EQ(Cli_kxf27400::stProdSerConsidera, "01;03");

    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(Stored("000008", "CDPRODCONSREPE"), "01;03");
    EXPECT_EQ(Stored("000008", "QTREPETEPRODNF"), 3.0);
    EXPECT_TRUE(Lista());
    EXPECT_EQ(Cli_kxf27400::stProdSerConsidera, "01;03");

    // The stored list comes back checked on the next search; an empty list is no list.
    dialogs_.picks.push_back(PickChecked({}));
    ASSERT_TRUE(Click("btpProdSerConsidera"));
    ASSERT_EQ(dialogs_.lists.size(), 2u);
    EXPECT_EQ(dialogs_.lists[1].checked, (std::vector<String>{"01", "03"}));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Stored("000008", "CDPRODCONSREPE").is_null());
    EXPECT_TRUE(Todos());
}

TEST_F(ProductTest, SavingWithTodosOrWithoutCountEmptiesTheList) {
    ASSERT_TRUE(Load("33987654000100"));
    ASSERT_TRUE(Click("rbtTodosProdSerConsidera"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_TRUE(Stored("000008", "CDPRODCONSREPE").is_null());
    EXPECT_EQ(Stored("000008", "QTREPETEPRODNF"), 3.0);
    EXPECT_EQ(Cli_kxf27400::stProdSerConsidera, "");
    EXPECT_TRUE(Todos());
    ExpectChoiceEnabled(true, false);

    // "Lista" with a list, but no count: no list either, and no message.
    db_->Sql() << "UPDATE PARAMFORNE SET CDPRODCONSREPE = '01' WHERE CDFORNECED = '000008'";
    ASSERT_TRUE(Load("33987654000100"));
    ASSERT_TRUE(Lista());
    ASSERT_TRUE(Clear("dbeQtRepeteProdNF"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_TRUE(Stored("000008", "CDPRODCONSREPE").is_null());
    EXPECT_TRUE(Stored("000008", "QTREPETEPRODNF").is_null());
    EXPECT_TRUE(Todos());
    ExpectChoiceEnabled(false, false);
}

TEST_F(ProductTest, ListChosenWithoutSearchKeepsWhatWasStored) {
    ASSERT_TRUE(Load("11222333000181"));
    ASSERT_TRUE(Type("dbeQtRepeteProdNF", "2"));
    ASSERT_TRUE(Click("rbtListaProdSerConsidera"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(Stored("000001", "QTREPETEPRODNF"), 2.0);
    EXPECT_TRUE(Stored("000001", "CDPRODCONSREPE").is_null());
    EXPECT_TRUE(Todos());
    EXPECT_FALSE(Form()->btpProdSerConsidera->Enabled());
}

// The search button never takes the focus: with an inscription still in its box (refused, or
// typed and not yet validated) the click validates it first, and the list goes to the supplier
// the box names or to none.
TEST_F(ProductTest, SearchFirstValidatesTheInscriptionLeftInItsBox) {
    struct Case {
        const char* typed;
        bool refusedFirst;  // left once already, and refused
        const char* loaded; // the record's supplier after the click
        bool listShown;
        std::vector<String> dialogs;
    };
    const Case cases[] = {
        {"99999999999999", true, "000008", false, {"error:Fornecedor não cadastrado."}},
        {"11222333000181", false, "000001", false, {}}, // loaded, and it has no product list
        {"33987654000100", false, "000008", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        ASSERT_TRUE(Load("33987654000100"));
        ASSERT_TRUE(Form()->btpProdSerConsidera->Enabled());
        ASSERT_TRUE(Clear("medNrInsJurNF"));
        ASSERT_TRUE(Type("medNrInsJurNF", c.typed));
        if (c.refusedFirst) {
            EXPECT_FALSE(Tab());
        }
        Dialogs();
        dialogs_.lists.clear();
        if (c.listShown) dialogs_.picks.push_back(PickCancel());
        EXPECT_EQ(Click("btpProdSerConsidera"), c.dialogs.empty());
        EXPECT_EQ(Dialogs(), c.dialogs);
        EXPECT_EQ(dialogs_.lists.size(), c.listShown ? 1u : 0u);
        EXPECT_EQ(Field("CDFORNECED")->AsString(), c.loaded);
        EXPECT_EQ(Form()->cdsParamForne->State(), c.listShown ? dsEdit : dsBrowse);
        EXPECT_EQ(Form()->medNrInsJurNF->Focused(), !c.dialogs.empty());
        if (c.listShown) {
            dialogs_.answers.push_back("yes");
            ASSERT_TRUE(Click("sbtCancela"));
        }
    }
}

TEST_F(ProductTest, CountMustBeAtLeastOne) {
    ASSERT_TRUE(Load("33987654000100"));
    ASSERT_TRUE(Clear("dbeQtRepeteProdNF"));
    ASSERT_TRUE(Type("dbeQtRepeteProdNF", "0"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(Click("sbtConfirma"));
        EXPECT_EQ(Dialogs(), std::vector<String>{kMaior});
        EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
        EXPECT_TRUE(Form()->sbtConfirma->Enabled());
    }
    EXPECT_EQ(Stored("000008", "QTREPETEPRODNF"), 3.0);
    ASSERT_TRUE(Clear("dbeQtRepeteProdNF"));
    ASSERT_TRUE(Type("dbeQtRepeteProdNF", "1"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(Stored("000008", "QTREPETEPRODNF"), 1.0);
    EXPECT_EQ(Stored("000008", "CDPRODCONSREPE"), "0101;0102;0201");
}

TEST_F(ProductTest, CountThatIsNoWholeNumberStopsTheSave) {
    ASSERT_TRUE(Load("33987654000100"));
    ASSERT_TRUE(Clear("dbeQtRepeteProdNF"));
    ASSERT_TRUE(Type("dbeQtRepeteProdNF", "1E3"));
    ASSERT_EQ(Form()->dbeQtRepeteProdNF->Text(), "1E3");
    EXPECT_FALSE(Click("sbtConfirma"));
    auto shown = Dialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].substr(0, 6), "error:");
    EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
    EXPECT_EQ(Stored("000008", "QTREPETEPRODNF"), 3.0);
}
