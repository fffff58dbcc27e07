// Nothing stored or typed changes without the clerk knowing: values other programs stored in forms
// of their own, number texts the whole-number boxes cannot take, a declined Cancel, inscriptions
// stored with punctuation, one supplier at a time on the screen, product codes the list does not
// offer, and the history in the screen's own forms.
#include "ScreenFixture.h"

#include "vcl/Input.h"

namespace {

// The raw stored value of a PARAMFORNE column of 000001, with its SQLite storage class.
std::string StoredRaw(TestDatabase& db, const std::string& column) {
    std::string raw;
    db.Sql() << "SELECT typeof(" + column + ") || ':' || COALESCE(CAST(" + column +
                    " AS TEXT), '') FROM PARAMFORNE WHERE CDFORNECED = '000001'",
        soci::into(raw);
    return raw;
}

// What a box shows: an edit its text, a check box whether it is ticked.
String Shown(TControl* box) {
    if (auto* dck = dynamic_cast<TDBCheckBox*>(box)) return dck->Checked() ? "marcado" : "";
    return box->Text();
}

const TFormCommand* History(TCustomForm* form) {
    return form->CommandByShortCut(Cli_kxf27400::AtalhoHistorico);
}

} // namespace

class ClerkIntentTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_TRUE(Open());
    }
};

class ClerkIntentEngineTest : public ScreenEngineTest {
protected:
    void SetUp() override {
        ScreenEngineTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(Open());
    }
};
KX_ENGINES(ClerkIntentEngineTest);

// SQLite keeps whatever text a column gets. A blank reads as null, a date as dd/mm/yyyy or with a
// time as its day; anything else shows empty and stays as stored through saves of other fields,
// until the clerk changes that very field, which then saves against the stored form.
TEST_F(ClerkIntentTest, ValuesStoredInFormsOfOtherProgramsOpenAndStayUntilChanged) {
    struct Case {
        const char* column;
        const char* stored; // SQL literal
        const char* box;    // the control that shows it
        const char* shown;  // what the box shows once loaded
        const char* typed;  // the clerk's own value for that field ("" : none to type)
        const char* after;  // stored once the clerk's value is saved
    };
    const Case cases[] = {
        {"QTREPETEPRODNF", "''", "dbeQtRepeteProdNF", "", "5", "real:5.0"},
        {"QTREPETEPRODNF", "'três'", "dbeQtRepeteProdNF", "", "3", "real:3.0"},
        {"NRDIASBLOQNFFOR", "'  '", "dbeNrDiasBloqNF", "", "7", "real:7.0"},
        {"NRDIASBLOQNFFOR", "'x'", "dbeNrDiasBloqNF", "", "8", "real:8.0"},
        {"VRMAXPERMFORN", "'1.500,50'", "dbeValMaxPerm", "", "12,5", "real:12.5"},
        {"DTREACONSIMPXML", "'20/11/2026'", "dbdDtReaConsImpXML", "20/11/2026", "", ""},
        {"DTREACONSIMPXML", "'2026-11-20 10:30:00'", "dbdDtReaConsImpXML", "20/11/2026", "", ""},
        {"DTREACONSIMPXML", "''", "dbdDtReaConsImpXML", "", "10/12/2026", "text:2026-12-10"},
        {"DTREACONSIMPXML", "'ontem'", "dbdDtReaConsImpXML", "", "10/12/2026", "text:2026-12-10"},
        {"IDSIMPLESNACIONAL", "'Sim'", "dckSimples", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.column) + " = " + c.stored);
        ASSERT_TRUE(Load("45782163000101"));
        db_->Sql() << "DELETE FROM PARAMFORNELOG";
        db_->Sql() << "UPDATE PARAMFORNE SET IDCFOPCTEXML = 'N', IDREACONSIMPXML = 'N', "
                      "DTREACONSIMPXML = '2026-11-20', " +
                          std::string(c.column) + " = " + c.stored + " WHERE CDFORNECED = '000001'";
        const std::string stored = StoredRaw(*db_, c.column);
        ASSERT_TRUE(Load("11222333000181"));
        EXPECT_EQ(Dialogs(), std::vector<String>{});
        EXPECT_EQ(Shown(Component<TControl>(c.box)), c.shown);

        // Another field saved, twice: the value stays as stored and only that field is logged.
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(Click("dckCfopCte"));
            ASSERT_TRUE(Click("sbtConfirma"));
            EXPECT_EQ(Dialogs(), std::vector<String>{});
            EXPECT_EQ(StoredRaw(*db_, c.column), stored);
            EXPECT_EQ(Shown(Component<TControl>(c.box)), c.shown);
        }
        for (const auto& r : db_->LogRows("000001"))
            EXPECT_EQ(r.at("NMCAMPO"), "IDCFOPCTEXML");
        if (!*c.typed) continue;

        // The clerk's own value replaces it, checked against the value as stored.
        if (std::string(c.box) == "dbdDtReaConsImpXML") {
            ASSERT_TRUE(Click("dckReaConsImpXml"));
            ASSERT_TRUE(Form()->dbdDtReaConsImpXML->Enabled());
            dialogs_.answers.push_back("yes");
        }
        ASSERT_TRUE(Clear(c.box));
        ASSERT_TRUE(Type(c.box, c.typed));
        ASSERT_TRUE(Click("sbtConfirma"));
        for (const String& d : Dialogs())
            EXPECT_EQ(d.substr(0, 8), "warning:"); // the date's confirmation only
        EXPECT_EQ(StoredRaw(*db_, c.column), c.after);
    }
}

// A text that is not a plain whole number is refused as the box is left, with the field's caption;
// the rest of the edit stays pending and saves once the box holds a number.
TEST_P(ClerkIntentEngineTest, WholeNumberBoxesRefuseOtherTextsWhenLeft) {
    struct Case {
        const char* box;
        const char* typed;
        const char* field;
        const char* caption;
    };
    const char* dias = "Nº de dias para bloqueio do número de NF repetido";
    const char* vezes = "Nº de vezes que um produto poderá se repetir";
    const Case cases[] = {
        {"dbeNrDiasBloqNF", "9E3", "NRDIASBLOQNFFOR", dias},
        {"dbeNrDiasBloqNF", "E", "NRDIASBLOQNFFOR", dias},
        {"dbeQtRepeteProdNF", "1E4", "QTREPETEPRODNF", vezes},
        {"dbeQtRepeteProdNF", "2E", "QTREPETEPRODNF", vezes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.box) + " " + c.typed);
        ASSERT_TRUE(Load("11222333000181"));
        const json before = db_->ParamRow("000001")->at(c.field);
        ASSERT_TRUE(Click("dckSimples")); // another change of the same edit
        ASSERT_TRUE(Clear(c.box));
        ASSERT_TRUE(Type(c.box, c.typed));
        EXPECT_FALSE(Tab());
        EXPECT_EQ(Dialogs(), std::vector<String>{String("error:'") + c.typed +
                                                 "' não é um número inteiro válido para o campo " +
                                                 c.caption + "."});
        EXPECT_EQ(Form()->ActiveControl(), Component<TWinControl>(c.box));
        EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
        EXPECT_EQ(db_->ParamRow("000001")->at(c.field), before);

        ASSERT_TRUE(Clear(c.box));
        ASSERT_TRUE(Type(c.box, "12"));
        ASSERT_TRUE(Click("sbtConfirma"));
        EXPECT_EQ(Dialogs(), std::vector<String>{});
        EXPECT_EQ(db_->ParamRow("000001")->at(c.field), 12.0);
        EXPECT_EQ(db_->ParamRow("000001")->at("IDSIMPLESNACIONAL"), "N");
        db_->Sql() << "UPDATE PARAMFORNE SET IDSIMPLESNACIONAL = 'S' WHERE CDFORNECED = '000001'";
    }
}

// Esc and "Não" leave everything as it was, the focused control included; Confirm then stores
// what the clerk typed or ticked.
TEST_P(ClerkIntentEngineTest, ADeclinedCancelChangesNothing) {
    struct Case {
        const char* control;
        std::function<bool()> change;
        std::function<String()> shown;
        const char* field;
        json saved;
    };
    const Case cases[] = {
        {"dbeNrDiasBloqNF",
         [&] { return Clear("dbeNrDiasBloqNF") && Type("dbeNrDiasBloqNF", "45"); },
         [&] { return Form()->dbeNrDiasBloqNF->Text(); }, "NRDIASBLOQNFFOR", 45.0},
        {"dckProcNotaDebCre", [&] { return Click("dckProcNotaDebCre"); },
         [&] { return String(Form()->dckProcNotaDebCre->Checked() ? "marcado" : "vazio"); },
         "IDPROCNOTADEBCRE", "S"},
        {"dckSimples", [&] { return Click("dckSimples"); },
         [&] { return String(Form()->dckSimples->Checked() ? "marcado" : "vazio"); },
         "IDSIMPLESNACIONAL", "N"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        ASSERT_TRUE(Load("11222333000181"));
        ASSERT_TRUE(c.change());
        const String shown = c.shown();
        dialogs_.answers.push_back("no");
        ASSERT_TRUE(Key(c.control, 27));
        EXPECT_EQ(Dialogs(), std::vector<String>{"question:Cancelar operação?"});
        EXPECT_EQ(c.shown(), shown);
        EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
        ASSERT_TRUE(Click("sbtConfirma"));
        EXPECT_EQ(Dialogs(), std::vector<String>{});
        EXPECT_EQ(db_->ParamRow("000001")->at(c.field), c.saved);
    }
}

// An inscription another program stored with its punctuation loads from its digits and from the
// list, as one stored bare does.
TEST_P(ClerkIntentEngineTest, InscriptionsStoredWithPunctuationLoad) {
    db_->Sql() << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN) "
                  "VALUES ('000010', '98.765.432/0001-98', 'Metalúrgica Ômega Ltda', 'J'), "
                  "('000011', '111.444.777-35', 'Ana Lima', 'F')";
    struct Case {
        const char* digits;
        const char* code;
        const char* shown;
    };
    const Case cases[] = {
        {"98765432000198", "000010", "98.765.432/0001-98"},
        {"11144477735", "000011", "111.444.777-35"},
        {"11222333000181", "000001", "11.222.333/0001-81"}, // stored bare
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.digits);
        ASSERT_TRUE(Load(c.digits));
        EXPECT_EQ(Dialogs(), std::vector<String>{});
        EXPECT_EQ(Field("CDFORNECED")->AsString(), c.code);
        EXPECT_EQ(Form()->medNrInsJurNF->EditText(), c.shown);

        // Picked from the list, which shows it as stored.
        ASSERT_TRUE(Load("45782163000101"));
        dialogs_.picks.push_back(PickCancel());
        ASSERT_TRUE(Click("btpFornecedor"));
        const auto& rows = dialogs_.lists.back().rows;
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [&](const auto& r) { return r.at(0) == c.shown; });
        ASSERT_NE(row, rows.end());
        dialogs_.picks.push_back(PickRow(static_cast<int>(row - rows.begin())));
        ASSERT_TRUE(Click("btpFornecedor"));
        ASSERT_TRUE(Tab());
        EXPECT_EQ(Dialogs(), std::vector<String>{});
        EXPECT_EQ(Field("CDFORNECED")->AsString(), c.code);
    }
}

// After a pick not yet loaded, and after a load that failed, the name, the homologation word, the
// options, the record and the history speak of one supplier, or of none.
TEST_P(ClerkIntentEngineTest, OneSupplierAtATime) {
    struct Case {
        const char* what;
        std::function<void()> act;
        const char* name;    // the name shown
        const char* code;    // the record's supplier ("" : none)
        const char* homolog; // the homologation word
    };
    const Case cases[] = {
        {"escolhido na lista, sem carregar",
         [&] {
             dialogs_.picks.push_back(PickRow(6)); // by type, then inscription: 45782163000101
             ASSERT_TRUE(Click("btpFornecedor"));
         },
         "Comercial Beta S.A.", "", ""},
        {"o mesmo escolhido na lista",
         [&] {
             dialogs_.picks.push_back(PickRow(3)); // 11222333000181
             ASSERT_TRUE(Click("btpFornecedor"));
         },
         "Distribuidora Alfa Ltda", "000001", "Homologado"},
        {"carga que falhou",
         [&] {
             StopServer();
             EXPECT_FALSE(Load("45782163000101"));
             RestartServer();
         },
         "", "000001", "Homologado"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Load("11222333000181"));
        Dialogs();
        c.act();
        Dialogs();
        EXPECT_EQ(Form()->edtNmRasSocForn->Text(), c.name);
        EXPECT_EQ(Form()->lblIdForne->Caption(), c.homolog);
        EXPECT_EQ(Form()->cdsParamForne->Active(), *c.code != 0);
        EXPECT_EQ(Form()->dckSimples->Checked(), *c.code != 0); // 000001 has it ticked
        EXPECT_EQ(Form()->dbeValMaxPerm->Text(), *c.code ? "1.500,50" : "");
        const TFormCommand* history = History(Form());
        ASSERT_NE(history, nullptr);
        EXPECT_EQ(history->enabled(), *c.code != 0);
        if (!*c.code) continue;
        EXPECT_EQ(Field("CDFORNECED")->AsString(), c.code);
        dialogs_.lists.clear();
        ASSERT_TRUE(UserInput::Command(Form(), *history));
        ASSERT_EQ(dialogs_.lists.size(), 1u);
        EXPECT_EQ(dialogs_.lists[0].title,
                  "Histórico de alterações - 000001 Distribuidora Alfa Ltda");
    }
}

// Codes stored in the list that the product list does not offer (level 2, written by another
// program) are kept with what the clerk checked.
TEST_P(ClerkIntentEngineTest, StoredCodesTheListDoesNotOfferAreKept) {
    struct Case {
        const char* stored;
        std::vector<String> checked;
        const char* saved;
    };
    const Case cases[] = {
        {"0101;0102;0201", {}, "0101;0102;0201"},
        {"0101;0102;0201", {"02"}, "02;0101;0102;0201"},
        {"0201;01;0101", {"03"}, "03;0201;0101"},
        {"01;02", {"02"}, "02"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        db_->Sql() << "UPDATE PARAMFORNE SET CDPRODCONSREPE = '" + std::string(c.stored) +
                          "' WHERE CDFORNECED = '000008'";
        ASSERT_TRUE(Load("33987654000100"));
        dialogs_.picks.push_back(PickChecked(c.checked));
        ASSERT_TRUE(Click("btpProdSerConsidera"));
        ASSERT_TRUE(Click("sbtConfirma"));
        EXPECT_EQ(Dialogs(), std::vector<String>{});
        EXPECT_EQ(db_->ParamRow("000008")->at("CDPRODCONSREPE"), c.saved);
    }
}

// The history shows values as the screen does: the limit with its display format, dates
// dd/mm/yyyy, flags Sim/Não.
TEST_P(ClerkIntentEngineTest, HistoryInTheScreensForms) {
    db_->Sql() << "INSERT INTO PARAMFORNELOG (CDFORNECED, DTALTERACAO, CDOPERADOR, NMCAMPO, "
                  "DSVALORANT, DSVALORNOVO) VALUES "
                  "('000001', '2026-11-01 08:00:00', 'outro', 'VRMAXPERMFORN', '1500.5', '0.1'), "
                  "('000001', '2026-11-02 08:00:00', 'outro', 'DTREACONSIMPXML', NULL, "
                  "'2026-11-20'), "
                  "('000001', '2026-11-03 08:00:00', 'outro', 'IDSIMPLESNACIONAL', 'N', 'S'), "
                  "('000001', '2026-11-04 08:00:00', 'outro', 'QTREPETEPRODNF', '2', '12'), "
                  "('000001', '2026-11-05 08:00:00', 'outro', 'VRMAXPERMFORN', '1234567.891', "
                  "'muito')";
    ASSERT_TRUE(Load("11222333000181"));
    ASSERT_TRUE(Clear("dbeValMaxPerm"));
    ASSERT_TRUE(Type("dbeValMaxPerm", "2000"));
    ASSERT_TRUE(Click("sbtConfirma"));
    ASSERT_TRUE(UserInput::Command(Form(), *History(Form())));
    ASSERT_EQ(dialogs_.lists.size(), 1u);
    std::vector<std::vector<String>> values;
    for (const auto& r : dialogs_.lists[0].rows)
        values.push_back({r.at(2), r.at(3), r.at(4)});
    const std::vector<std::vector<String>> expected = {
        {"Valor Máximo Permitido", "1.500,50", "2.000,00"},
        {"Valor Máximo Permitido", "1.234.567,89", "muito"},
        {"Nº de vezes que um produto poderá se repetir no lançamento da NF", "2", "12"},
        {"Fornecedor optante pelo Simples Nacional", "Não", "Sim"},
        {"Data inicial para validações das consistências", "", "20/11/2026"},
        {"Valor Máximo Permitido", "1.500,50", "0,10"},
    };
    EXPECT_EQ(values, expected);
}
