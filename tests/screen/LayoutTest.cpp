// The screen as its form definition makes it, before any supplier is loaded, against its
// baseline (tests/screen/baseline/kxf27400.txt: window, controls, captions, positions, tab
// order, states, colours, fonts, bindings, the message catalogue, the parameter record and the
// lookups' SQL); what the form does with keys and lookups; then the two server calls of the
// record, used on their own.
#include <algorithm>

#include "FormBaseline.h"
#include "ScreenFixture.h"

using namespace Cli_kxf27400;

class LayoutTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_TRUE(Open());
        ASSERT_TRUE(Dialogs().empty());
    }
};

// A change of the form is meant when the baseline is rewritten with it (KX_UPDATE_BASELINES=1)
// and the diff of that file is reviewed.
TEST_F(LayoutTest, TheLoadedFormMatchesItsBaseline) {
    const std::string path = std::string(KX_SOURCE_DIR) + "/tests/screen/baseline/kxf27400.txt";
    const std::string text = DescribeForm(*Form());
    const std::string diff = CompareWithBaseline(path, text);
    EXPECT_TRUE(diff.empty()) << diff;
    EXPECT_EQ(stProdSerConsidera, "");
    // Fetched by key, "%s" left for the caller.
    EXPECT_EQ(Form()->msgPadrao->Msg("Canc"), "Cancelar operação?");
    EXPECT_EQ(Form()->msgPadrao->Msg("DT_INI_MAIOR_ATUAL").rfind("Operação bloqueada.", 0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Keys, lengths and lookups

// From the keyboard, with a supplier whose date is closed and whose product list is chosen: the
// CT-e due dates only after the CFOP option, the purchase limit at the bottom before the
// consistency option above it, and the checked radio button last.
TEST_F(LayoutTest, TheKeyboardWalksTheLoadedSupplierInTabOrder) {
    ASSERT_TRUE(Load("33987654000100"));
    std::vector<String> walked = {Form()->ActiveControl()->Name()};
    for (int i = 0; i < 19; ++i) {
        ASSERT_TRUE(Tab());
        walked.push_back(Form()->ActiveControl()->Name());
    }
    const std::vector<String> expected = {
        "dbeNrDiasBloqNF",   "dckBloqNFRelacForn", "dckOImpXmlNF",      "dckObrigCAcesso",
        "dckVerifCpfCnpj",   "dckSimples",         "dckVencXML",        "dckBloqAltProdRelac",
        "dckProcNotaDebCre", "dckProdIGXML",       "dckReaConfNF",      "dckIdUtDescBCST",
        "dckCfopCte",        "dckImpVencCTe",      "dckNGravaRelac",    "dbeValMaxPerm",
        "dbeCdGrupoPermLan", "dckReaConsImpXml",   "dbeQtRepeteProdNF", "rbtListaProdSerConsidera",
    };
    EXPECT_EQ(walked, expected);
    ASSERT_TRUE(Tab(true));
    EXPECT_EQ(Form()->ActiveControl()->Name(), "dbeQtRepeteProdNF");
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
}

TEST_F(LayoutTest, MaximumLengthsHoldForTypedText) {
    ASSERT_TRUE(Type("medNrInsJurNF", "123456789012345678901234"));
    EXPECT_EQ(Form()->medNrInsJurNF->Text(), "12345678901234567890");

    ASSERT_TRUE(Load("11222333000181"));
    EXPECT_EQ(Form()->dbeCdGrupoPermLan->MaxLength(), 2);
    ASSERT_TRUE(Clear("dbeNrDiasBloqNF"));
    ASSERT_TRUE(Type("dbeNrDiasBloqNF", "123456"));
    EXPECT_EQ(Form()->dbeNrDiasBloqNF->Text(), "1234");
    ASSERT_TRUE(Type("dbeQtRepeteProdNF", "987654"));
    EXPECT_EQ(Form()->dbeQtRepeteProdNF->Text(), "9876");
    ASSERT_TRUE(Clear("dbeCdGrupoPermLan"));
    ASSERT_TRUE(Type("dbeCdGrupoPermLan", "034"));
    EXPECT_EQ(Form()->dbeCdGrupoPermLan->Text(), "03");
}

TEST_F(LayoutTest, TheRepetitionEditFiltersKeysLikeTheDaysEdit) {
    for (const char* name : {"dbeNrDiasBloqNF", "dbeQtRepeteProdNF"}) {
        SCOPED_TRACE(name);
        auto* e = Component<TDBEdit>(name);
        ASSERT_TRUE(static_cast<bool>(e->OnKeyPress));
        for (Char refused : {U'+', U',', U'-', U'.', U'e'}) {
            Char k = refused;
            e->OnKeyPress(e, k);
            EXPECT_EQ(k, Char(0)) << static_cast<int>(refused);
        }
        Char digit = U'7';
        e->OnKeyPress(e, digit);
        EXPECT_EQ(digit, U'7');
    }
}

// The "T" switch lists every row in the stated order; the empty text keeps the one asked for.
TEST_F(LayoutTest, LookupSwitchesAndOrder) {
    auto rows = [](TADOIBQuery* q, const char* column) {
        std::vector<String> out;
        q->Open();
        for (q->Query()->First(); !q->Query()->Eof(); q->Query()->Next())
            out.push_back(q->FieldByName(column)->AsString());
        q->Close();
        return out;
    };
    TfrmParamForne* f = Form();
    TADOIBQuery* forn = f->qryFornecedor;
    forn->ParamByName("P_NRINSJURFORN").SetAsString("");
    forn->ParamByName("P_TNRINSJURFORN").SetAsString("T");
    std::vector<String> all = rows(forn, "CDFORNECED");
    EXPECT_EQ(all.size(), 9u);
    forn->ParamByName("P_TNRINSJURFORN").SetAsString("");
    EXPECT_TRUE(rows(forn, "CDFORNECED").empty());
    forn->ParamByName("P_NRINSJURFORN").SetAsString("33987654000100");
    EXPECT_EQ(rows(forn, "CDFORNECED"), std::vector<String>{"000008"});
    // Ordered by person type, then inscription.
    forn->ParamByName("P_NRINSJURFORN").SetAsString("");
    forn->ParamByName("P_TNRINSJURFORN").SetAsString("T");
    std::vector<String> keys;
    forn->Open();
    for (forn->Query()->First(); !forn->Query()->Eof(); forn->Query()->Next())
        keys.push_back(forn->Query()->Fields()[3]->AsString() + "|" +
                       forn->Query()->Fields()[1]->AsString());
    forn->Close();
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));

    TADOIBQuery* grp = f->qryGrupoPermLan;
    grp->ParamByName("P_CDGRUPOPER").SetAsString("");
    grp->ParamByName("P_TGRUPOPER").SetAsString("T");
    std::vector<String> groups = rows(grp, "CDGRUPOPER");
    EXPECT_EQ(groups, (std::vector<String>{"01", "02", "03", "04"}));
    grp->ParamByName("P_CDGRUPOPER").SetAsString("03");
    grp->ParamByName("P_TGRUPOPER").SetAsString("");
    EXPECT_EQ(rows(grp, "CDGRUPOPER"), std::vector<String>{"03"});

    std::vector<String> products = rows(f->qryProdSerConsidera, "CDARVPROD");
    ASSERT_FALSE(products.empty());
    EXPECT_TRUE(std::is_sorted(products.begin(), products.end()));
    auto level = db_->Dump("SELECT CDARVPROD FROM PRODUTO WHERE CDNVPRODUTO = '1' ORDER BY 1");
    for (const String& p : products)
        EXPECT_NE(level.find(p), std::string::npos) << p;
    EXPECT_EQ(std::find(products.begin(), products.end(), "0101"), products.end());
}

// ---------------------------------------------------------------------------------------------
// The two server calls of the record, used on their own

class ExchangeTest : public LayoutTest {
protected:
    void SetUp() override {
        LayoutTest::SetUp();
        ASSERT_TRUE(Load("11222333000181"));
        ASSERT_EQ(Field("CDFORNECED")->AsString(), "000001");
        Dialogs();
    }
    Variant Answer(const char* code) { return Form()->GetParamForn(code); }
    Variant Packet(const char* code) { return Answer(code)[1]; }
    // Posts a change into the change log without the screen sending it at once.
    void PostWithoutSending(const char* field, const String& value) {
        TClientDataSet* cds = Form()->cdsParamForne;
        auto afterPost = cds->AfterPost;
        cds->AfterPost = nullptr;
        cds->Edit();
        cds->FieldByName(field)->SetAsString(value);
        cds->Post();
        cds->AfterPost = afterPost;
    }
};

TEST_F(ExchangeTest, GetParamFornAnswersMarkPacketAndServerDate) {
    Variant a = Answer("000008");
    ASSERT_TRUE(a.IsArray());
    ASSERT_EQ(a.ArrayLength(), 3u);
    EXPECT_EQ(a[0].AsString(), "S");
    EXPECT_EQ(a[2].AsString(), "08/12/2026");
    Variant missing = Answer("999999");
    ASSERT_TRUE(missing.IsArray());
    EXPECT_EQ(missing[0].AsString(), "N");
    EXPECT_EQ(missing[1].AsString(), "Fornecedor não cadastrado.");
}

// An error text is a failed load, as a refusal is: shown, then the operation ends.
TEST_F(ExchangeTest, AStringAnswerIsShownAndAbortsChangingNothing) {
    const TDateTime before = EncodeDate(2026, 1, 2);
    for (const Variant& answer : {Variant("Servidor de aplicação ocupado."),
                                  Variant::OleStr("Servidor de aplicação ocupado.")}) {
        dtDataAtual = before;
        stProdSerConsidera = "0101";
        EXPECT_THROW(Form()->CarregaParamForn(answer), EAbort);
        EXPECT_EQ(Dialogs(), std::vector<String>{"error:Servidor de aplicação ocupado."});
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
        EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
        EXPECT_EQ(dtDataAtual, before);
        EXPECT_EQ(stProdSerConsidera, "0101");
    }
}

TEST_F(ExchangeTest, ARefusalShowsItsTextAndAborts) {
    const TDateTime before = dtDataAtual;
    struct Case {
        Variant answer;
        String shown;
    };
    const Case cases[] = {
        {Variant::Array({Variant("N"), Variant("Fornecedor bloqueado para parâmetros.")}),
         "Fornecedor bloqueado para parâmetros."},
        {Variant::Array({Variant::OleStr("N"), Variant(42)}), "42"},
        {Answer("999999"), "Fornecedor não cadastrado."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_THROW(Form()->CarregaParamForn(c.answer), EAbort);
        EXPECT_EQ(Dialogs(), std::vector<String>{"error:" + c.shown});
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
        EXPECT_EQ(dtDataAtual, before);
    }
}

TEST_F(ExchangeTest, AnyOtherMarkIsSuccessAndReplacesTheRowAndItsChangeLog) {
    const Variant packet8 = Packet("000008");
    const Variant packet1 = Packet("000001");
    int day = 1;
    for (const char* mark : {"S", "", "X", "n", "SIM"}) {
        SCOPED_TRACE(std::string("mark '") + mark + "'");
        // A pending change of the row shown, still in the log.
        PostWithoutSending("NRDIASBLOQNFFOR", "77");
        ASSERT_EQ(Form()->cdsParamForne->ChangeCount(), 1);

        const String date = (day < 10 ? "0" : "") + std::to_string(day) + "/01/2027";
        EXPECT_NO_THROW(
            Form()->CarregaParamForn(Variant::Array({Variant(mark), packet8, Variant(date)})));
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000008");
        EXPECT_TRUE(Field("NRDIASBLOQNFFOR")->IsNull());
        EXPECT_EQ(Field("QTREPETEPRODNF")->AsFloat(), 3.0);
        EXPECT_EQ(Form()->cdsParamForne->ChangeCount(), 0);
        EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
        EXPECT_EQ(dtDataAtual, EncodeDate(2027, 1, day));
        EXPECT_TRUE(Dialogs().empty());

        // Back to the first supplier for the next mark.
        ASSERT_NO_THROW(Form()->CarregaParamForn(
            Variant::Array({Variant("S"), packet1, Variant("08/12/2026")})));
        ASSERT_EQ(Field("NRDIASBLOQNFFOR")->AsFloat(), 30.0);
        ++day;
    }
}

// The date is read before the row is replaced: a bad one leaves the previous row whole, never
// the new row under the old controls.
TEST_F(ExchangeTest, AnUnreadableDateOrAMissingPacketFailsWithTheRowUnchanged) {
    const Variant packet8 = Packet("000008");
    const std::pair<const char*, Variant> answers[] = {
        {"no such day", Variant::Array({Variant("S"), packet8, Variant("31/02/2027")})},
        {"not a date", Variant::Array({Variant("S"), packet8, Variant("amanhã")})},
        {"empty date", Variant::Array({Variant("S"), packet8, Variant("")})},
        {"null packet", Variant::Array({Variant("S"), Variant::Null(), Variant("08/12/2026")})},
    };
    for (const auto& [row, answer] : answers) {
        SCOPED_TRACE(row);
        ASSERT_NO_THROW(Form()->CarregaParamForn(Answer("000001")));
        const TDateTime before = dtDataAtual;
        stProdSerConsidera = "";
        EXPECT_THROW(Form()->CarregaParamForn(answer), Exception);
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
        EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
        EXPECT_EQ(dtDataAtual, before);
        EXPECT_EQ(stProdSerConsidera, "");
    }
}

// An answer too short to hold a packet and a date fails without touching the row.
TEST_F(ExchangeTest, AnAnswerWithoutPacketFailsAndKeepsTheRow) {
    const TDateTime before = dtDataAtual;
    for (const Variant& answer : {Variant::Array({Variant("S")}), Variant::Array({Variant("N")})}) {
        EXPECT_THROW(Form()->CarregaParamForn(answer), Exception);
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
        EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
        EXPECT_EQ(dtDataAtual, before);
    }
}

TEST_F(ExchangeTest, SetParamFornTellsWhetherTheDaysBoxIsBlank) {
    struct Case {
        const char* text;
        bool storedNull;
    };
    for (const Case c : {Case{"0", false}, Case{"12", false}, Case{"", true}, Case{"   ", true}}) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        db_->Sql() << "UPDATE PARAMFORNE SET NRDIASBLOQNFFOR = 30, IDSIMPLESNACIONAL = 'S' "
                      "WHERE CDFORNECED = '000001'";
        ASSERT_NO_THROW(Form()->CarregaParamForn(Answer("000001")));
        PostWithoutSending("IDSIMPLESNACIONAL", "N");
        // The box's text as the user left it; the record keeps 30 days.
        Form()->dbeNrDiasBloqNF->SetText(c.text);
        ASSERT_EQ(Field("NRDIASBLOQNFFOR")->AsFloat(), 30.0);

        EXPECT_NO_THROW(Form()->SetParamForn());
        auto row = db_->ParamRow("000001");
        ASSERT_TRUE(row.has_value());
        EXPECT_EQ(row->at("IDSIMPLESNACIONAL"), "N");
        if (c.storedNull)
            EXPECT_TRUE(row->at("NRDIASBLOQNFFOR").is_null()) << row->at("NRDIASBLOQNFFOR");
        else
            EXPECT_EQ(row->at("NRDIASBLOQNFFOR"), 30) << row->at("NRDIASBLOQNFFOR");
        EXPECT_TRUE(Dialogs().empty());
    }
}
