// No save lands wrong: the consistency date follows the stored one, blanks other programs wrote
// never block a save, an inscription stored as typed is found, a failed load leaves no mixed
// screen, only the success answer counts as saved, and the days are a whole number.
#include "RelayServer.h"
#include "ScreenFixture.h"

#include "Showavi.h"
#include "net/Brannox.h"

class IntegrityTest : public ScreenEngineTest {
protected:
    void SetUp() override {
        ScreenEngineTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(Open());
    }
    TDBDateEditPlus* Box() { return Form()->dbdDtReaConsImpXML; }
    void ExpectOpen(bool open) {
        EXPECT_EQ(Box()->Enabled(), open);
        EXPECT_EQ(Box()->Color(), open ? clInfoBk : clBtnFace);
    }
    // Rows stored with the option ticked and no date.
    std::string TickedWithoutDate() {
        return db_->Dump("SELECT CDFORNECED FROM PARAMFORNE WHERE IDREACONSIMPXML = 'S' AND "
                         "DTREACONSIMPXML IS NULL");
    }
    // The screen connected again, through a relay in front of the real appserver on the test's
    // database: the relay speaks HTTP.
    std::unique_ptr<RelayServer> ThroughRelay() {
        appserver_ = std::make_unique<ServerProcess>(
            db_->Url(), std::vector<std::string>{"--today", "2026-12-08"});
        auto relay = std::make_unique<RelayServer>(appserver_->Port());
        Brannox::SetServer("127.0.0.1:" + std::to_string(relay->Port()));
        Form()->netParamForne->SetConnected(false);
        Form()->netParamForne->SetConnected(true);
        return relay;
    }
    std::string Snapshot() {
        return db_->Dump("SELECT * FROM PARAMFORNE ORDER BY CDFORNECED") +
               db_->Dump("SELECT * FROM PARAMFORNELOG ORDER BY IDPARAMFORNELOG");
    }
};
KX_ENGINES(IntegrityTest);

// Ticking again after a declined or emptied date opens the box again: the stored date decides.
TEST_P(IntegrityTest, RetickingWithoutAStoredDateOpensTheBoxAgain) {
    ASSERT_TRUE(Load("45782163000101")); // no stored row, no date
    ASSERT_TRUE(Click("dckReaConsImpXml"));
    dialogs_.answers.push_back("no");
    EXPECT_FALSE(Click("sbtConfirma"));
    EXPECT_EQ(Dialogs(), std::vector<String>{kConfirma08});

    // Declined, then a date typed and left: unticking and ticking again reopens the box each time.
    for (bool typed : {false, true}) {
        SCOPED_TRACE(typed ? "data digitada" : "data recusada");
        if (typed) {
            ASSERT_TRUE(Clear("dbdDtReaConsImpXML"));
            ASSERT_TRUE(Type("dbdDtReaConsImpXML", "20/12/2026"));
            ASSERT_TRUE(Focus("dckSimples"));
        }
        ASSERT_TRUE(Click("dckReaConsImpXml"));
        ExpectOpen(false);
        EXPECT_EQ(Box()->Text(), "");
        ASSERT_TRUE(Click("dckReaConsImpXml"));
        ExpectOpen(true);
        EXPECT_EQ(Box()->Text(), "08/12/2026");
    }
    // An empty box is never saved with the option ticked.
    ASSERT_TRUE(Clear("dbdDtReaConsImpXML"));
    EXPECT_FALSE(Click("sbtConfirma"));
    EXPECT_EQ(Dialogs(), std::vector<String>{kDeve});
    EXPECT_EQ(TickedWithoutDate(), "");

    ASSERT_TRUE(Type("dbdDtReaConsImpXML", "08/12/2026"));
    dialogs_.answers.push_back("yes");
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_EQ(Dialogs(), std::vector<String>{kConfirma08});
    EXPECT_EQ(db_->ParamRow("000002")->at("DTREACONSIMPXML"), "2026-12-08");
    EXPECT_EQ(TickedWithoutDate(), "");
}

// A supplier whose rows hold '' where this system writes null loads and saves; only the option
// the user changed is written.
TEST_P(IntegrityTest, BlanksWrittenByOtherProgramsLoadAndSave) {
    db_->Sql() << "UPDATE FORNECEDOR SET IDFORNEHOMO = '' WHERE CDFORNECED = '000001'";
    db_->Sql() << "UPDATE PARAMFORNE SET IDCFOPCTEXML = '', IDIMPVENCXMLCTE = '', "
                  "CDPRODCONSREPE = '' WHERE CDFORNECED = '000001'";
    const std::string blanks = db_->Dump("SELECT IDIMPVENCXMLCTE, CDPRODCONSREPE FROM PARAMFORNE "
                                         "WHERE CDFORNECED = '000001'");
    ASSERT_TRUE(Load("11222333000181"));
    EXPECT_EQ(Form()->lblIdForne->Caption(), "");
    for (const char* box : {"dckSimples", "dckCfopCte"}) { // S -> N, and the blank one -> S
        SCOPED_TRACE(box);
        ASSERT_TRUE(Click(box));
        ASSERT_TRUE(Click("sbtConfirma"));
        EXPECT_EQ(Dialogs(), std::vector<String>{});
    }
    const auto row = db_->ParamRow("000001");
    EXPECT_EQ(row->at("IDSIMPLESNACIONAL"), "N");
    EXPECT_EQ(row->at("IDCFOPCTEXML"), "S");
    EXPECT_EQ(db_->Dump("SELECT IDIMPVENCXMLCTE, CDPRODCONSREPE FROM PARAMFORNE "
                        "WHERE CDFORNECED = '000001'"),
              blanks);
    std::vector<std::string> logged;
    for (const auto& r : db_->LogRows("000001"))
        logged.push_back(r.at("NMCAMPO"));
    EXPECT_EQ(logged, (std::vector<std::string>{"IDSIMPLESNACIONAL", "IDCFOPCTEXML"}));
}

// Every answer to a save but the success form is a failure: shown, the change log discarded,
// the buttons kept, nothing stored.
TEST_P(IntegrityTest, OnlyTheSuccessAnswerSaves) {
    auto relay = ThroughRelay();
    const String invalid =
        "error:Resposta inválida do servidor de aplicação: a gravação não foi confirmada.";
    struct Case {
        json answer;
        String shown;
    };
    const Case cases[] = {
        {json::array({"N", "Gravação recusada: fornecedor bloqueado."}),
         "error:Gravação recusada: fornecedor bloqueado."},
        {"Servidor em manutenção.", "error:Servidor em manutenção."},
        {json::array({"X"}), invalid},
        {json::array({""}), invalid},
        {json::array({"N"}), invalid},
    };
    const std::string before = Snapshot();
    int calls = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer.dump());
        relay->Answer("SetParamForn", c.answer);
        ASSERT_TRUE(Load("11222333000181"));
        Dialogs();
        ASSERT_TRUE(Click("dckSimples"));
        EXPECT_FALSE(Click("sbtConfirma"));
        EXPECT_EQ(relay->Calls("SetParamForn"), ++calls);
        EXPECT_EQ(Dialogs(), std::vector<String>{c.shown});
        EXPECT_FALSE(Showavi::Showing());
        EXPECT_EQ(Form()->cdsParamForne->ChangeCount(), 0);
        EXPECT_EQ(Field("IDSIMPLESNACIONAL")->AsString(), "S");
        EXPECT_TRUE(Form()->sbtConfirma->Enabled());
        EXPECT_TRUE(Form()->sbtCancela->Enabled());
        EXPECT_EQ(Snapshot(), before);
    }
}

// An error text or a malformed answer in place of the row is a failed load like a refusal: the
// focus stays in the inscription, so nothing can be changed on the previous supplier under the
// new one's name.
TEST_P(IntegrityTest, AFailedLoadLeavesNoMixedScreen) {
    auto relay = ThroughRelay();
    ASSERT_TRUE(Load("33987654000100"));
    Dialogs();
    const std::string before = Snapshot();
    const String invalid = "error:Resposta inválida do servidor de aplicação.";
    struct Case {
        json answer;
        String shown;
    };
    const Case cases[] = {
        {"Serviço de parâmetros em manutenção.", "error:Serviço de parâmetros em manutenção."},
        {json::array({"X"}), invalid},
        {json::array({"N"}), invalid},
        {json::array({"S"}), invalid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer.dump());
        relay->Answer("GetParamForn", c.answer);
        ASSERT_TRUE(Clear("medNrInsJurNF"));
        ASSERT_TRUE(Type("medNrInsJurNF", "11222333000181"));
        EXPECT_FALSE(Tab());
        EXPECT_EQ(Dialogs(), std::vector<String>{c.shown});
        EXPECT_FALSE(Showavi::Showing());
        EXPECT_EQ(Form()->ActiveControl(), Form()->medNrInsJurNF);
        EXPECT_EQ(Form()->medNrInsJurNF->EditMask(), "");
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000008");

        // A click elsewhere validates the inscription again, which fails again: no edit starts.
        EXPECT_FALSE(Click("dckSimples"));
        EXPECT_EQ(Dialogs(), std::vector<String>{c.shown});
        EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
        EXPECT_FALSE(Form()->sbtConfirma->Enabled());
    }
    EXPECT_EQ(relay->Calls("SetParamForn"), 0);
    EXPECT_EQ(Snapshot(), before);
}

// The days box takes 'E', which the key filter lets through; a days text that is not a plain
// whole number is refused as the repetition count is, and nothing is sent.
TEST_P(IntegrityTest, DaysAreAWholeNumber) {
    ASSERT_TRUE(Load("11222333000181"));
    const std::string before = Snapshot();
    for (const char* typed : {"9E99", "1E3"}) {
        SCOPED_TRACE(typed);
        ASSERT_TRUE(Clear("dbeNrDiasBloqNF"));
        ASSERT_TRUE(Type("dbeNrDiasBloqNF", typed));
        EXPECT_FALSE(Click("sbtConfirma"));
        EXPECT_EQ(Dialogs(), std::vector<String>{String("error:'") + typed +
                                                 "' não é um número inteiro válido para o campo "
                                                 "Nº de dias para bloqueio do número de NF "
                                                 "repetido."});
        EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
        EXPECT_EQ(Snapshot(), before);
    }
    ASSERT_TRUE(Clear("dbeNrDiasBloqNF"));
    ASSERT_TRUE(Type("dbeNrDiasBloqNF", "9999"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_EQ(Dialogs(), std::vector<String>{});
    EXPECT_EQ(db_->ParamRow("000001")->at("NRDIASBLOQNFFOR"), 9999.0);
}

// An inscription stored with punctuation under a person type without a mask is found as typed
// and as picked; typed in lower case it is still found in its adjusted form.
TEST_P(IntegrityTest, UnmaskedInscriptionIsLookedUpAsTypedFirst) {
    db_->Sql() << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN) "
                  "VALUES ('000010', 'AR-20-12345678-9', 'Importadora Austral', 'I')";
    struct Case {
        const char* typed;
        const char* code;
        const char* shown;
    };
    const Case cases[] = {
        {"AR-20-12345678-9", "000010", "AR-20-12345678-9"},
        {"a98765432", "000007", "A98765432"},
        {"ar-20-12345678-9", "", "AR20123456789"}, // the adjusted form is not stored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        ASSERT_TRUE(Load("11222333000181"));
        Dialogs();
        EXPECT_EQ(Load(c.typed), *c.code != 0);
        EXPECT_EQ(Form()->medNrInsJurNF->Text(), c.shown);
        EXPECT_EQ(Field("CDFORNECED")->AsString(), *c.code ? c.code : "000001");
        EXPECT_EQ(Dialogs(), *c.code ? std::vector<String>{}
                                     : std::vector<String>{"error:Fornecedor não cadastrado."});
    }
    // Picked from the list: type I after the two CPFs, "A98765432" then "AR-20-12345678-9".
    TScriptedDialogs::PickAnswer pick;
    pick.row = 3;
    dialogs_.picks.push_back(pick);
    ASSERT_TRUE(Click("btpFornecedor"));
    EXPECT_EQ(Form()->edtNmRasSocForn->Text(), "Importadora Austral");
    ASSERT_TRUE(Tab());
    EXPECT_EQ(Field("CDFORNECED")->AsString(), "000010");
    EXPECT_EQ(Form()->edtNmRasSocForn->Text(), "Importadora Austral");
}
