// Choosing a supplier: typing or picking the inscription, the lookup, the server call and the
// controls set from the loaded row; what stays when any of it fails.
#include "ScreenFixture.h"

#include "Showavi.h"
#include "net/Brannox.h"
#include "rtl/DateUtils.h"

namespace {

const char* const kMaskCnpj = ">AA.AAA.AAA/AAAA-99;0;_";
const char* const kMaskCpf = "999.999.999-99;0;_";

// The dialog service that also notes whether the busy animation covered each message.
class BusyAwareDialogs : public TScriptedDialogs {
public:
    int MessageBox(const String& text, TMsgDlgType type, const TMsgDlgButtons& buttons) override {
        underBusy.push_back(busyVisible);
        return TScriptedDialogs::MessageBox(text, type, buttons);
    }
    std::vector<bool> underBusy;
};

} // namespace

class SupplierTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_TRUE(Open());
    }
    TMaskEdit* Inscricao() { return Form()->medNrInsJurNF; }
    bool FocusIn(TWinControl* c) { return Form()->ActiveControl() == c; }
    int Busy6() {
        int n = 0;
        for (const auto& b : dialogs_.busy)
            n += b.kind == 6;
        return n;
    }
};

struct TypedInscription {
    const char* typed;
    const char* code;
    const char* name;
    const char* homologation;
    const char* mask;
    const char* shown;
};

TEST_F(SupplierTest, TypedInscriptionLoadsTheSupplierWhateverItsForm) {
    const TypedInscription cases[] = {
        {"11222333000181", "000001", "Distribuidora Alfa Ltda", "Homologado", kMaskCnpj,
         "11.222.333/0001-81"},
        {"11.222.333/0001-81", "000001", "Distribuidora Alfa Ltda", "Homologado", kMaskCnpj,
         "11.222.333/0001-81"},
        {"45782163000101", "000002", "Comercial Beta S.A.", "Não Homologado", kMaskCnpj,
         "45.782.163/0001-01"},
        {"12abc34501de35", "000003", "Atacadista Gama Ltda", "", kMaskCnpj, "12.ABC.345/01DE-35"},
        {"12.ABC.345/01DE-35", "000003", "Atacadista Gama Ltda", "", kMaskCnpj,
         "12.ABC.345/01DE-35"},
        {"7q4rk2m9000150", "000009", "Indústria de Embalagens Sol Ltda", "Homologado", kMaskCnpj,
         "7Q.4RK.2M9/0001-50"},
        {"529.982.247-25", "000004", "João Carlos Pereira", "Homologado", kMaskCpf,
         "529.982.247-25"},
        {"12345678909", "000005", "Maria Aparecida Souza", "", kMaskCpf, "123.456.789-09"},
        {"0045871236", "000006", "Cooperativa Agrícola Vale Verde", "Não Homologado", "",
         "0045871236"},
        {"a98765432", "000007", "Exportadora Andina S.A.", "", "", "A98765432"},
        {"0045.871.236", "000006", "Cooperativa Agrícola Vale Verde", "Não Homologado", "",
         "0045871236"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        dialogs_.ClearLog();
        EXPECT_TRUE(Load(c.typed));
        EXPECT_EQ(Dialogs(), std::vector<String>{});
        EXPECT_EQ(Field("CDFORNECED")->AsString(), c.code);
        EXPECT_EQ(Form()->edtNmRasSocForn->Text(), c.name);
        EXPECT_EQ(Form()->lblIdForne->Caption(), c.homologation);
        EXPECT_EQ(Inscricao()->EditMask(), c.mask);
        EXPECT_EQ(Inscricao()->EditText(), c.shown);
        EXPECT_EQ(Inscricao()->MaxLength(), 20);
        // One busy animation, kind 6 over the host's main window, gone again.
        ASSERT_EQ(dialogs_.busy.size(), 1u);
        EXPECT_EQ(dialogs_.busy[0].kind, 6);
        EXPECT_EQ(dialogs_.busy[0].over, "frmPrincipal");
        EXPECT_FALSE(dialogs_.busyVisible);
        EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
        EXPECT_EQ(Form()->cdsParamForne->ChangeCount(), 0);
        EXPECT_FALSE(Form()->sbtConfirma->Enabled());
        EXPECT_FALSE(Form()->sbtCancela->Enabled());
        EXPECT_EQ(DateToStr(Cli_kxf27400::dtDataAtual), "08/12/2026");
    }
}

TEST_F(SupplierTest, OptionsOfTheLoadedRowReachTheControls) {
    ASSERT_TRUE(Load("11222333000181"));
    auto row = db_->ParamRow("000001");
    ASSERT_TRUE(row);
    for (const OptionBox& b : kOptionBoxes) {
        SCOPED_TRACE(b.box);
        EXPECT_EQ(Field(b.field)->AsString(), row->at(b.field).get<std::string>());
        EXPECT_EQ(Component<TDBCheckBox>(b.box)->Checked(), row->at(b.field) == "S");
    }
    EXPECT_EQ(Form()->dbeNrDiasBloqNF->Text(), "30");
    EXPECT_EQ(Form()->dbeValMaxPerm->Text(), "1.500,50");
    EXPECT_EQ(Form()->dbeCdGrupoPermLan->Text(), "02");
    EXPECT_EQ(Form()->dbeDescGrupoXML->Text(), "Fiscal");
    // A stored date closes the date box.
    EXPECT_EQ(Form()->dbdDtReaConsImpXML->Text(), "20/11/2026");
    EXPECT_FALSE(Form()->dbdDtReaConsImpXML->Enabled());
    EXPECT_EQ(Form()->dbdDtReaConsImpXML->Color(), clBtnFace);
    // No repetition count: the whole product choice is out of use, "Todos" shown.
    EXPECT_TRUE(Form()->rbtTodosProdSerConsidera->Checked());
    for (const char* c : {"rbtTodosProdSerConsidera", "rbtListaProdSerConsidera",
                          "btpProdSerConsidera", "lblObsProdSerConsidera", "grbProdSerConsidera"})
        EXPECT_FALSE(Component<TControl>(c)->Enabled()) << c;
    EXPECT_EQ(Cli_kxf27400::stProdSerConsidera, "");
}

TEST_F(SupplierTest, DateBoxAndProductControlsFollowEachLoadedRow) {
    // 000002 has no stored row: the defaults. Ticked consistency without a date opens the box.
    db_->Sql() << "INSERT INTO PARAMFORNE (CDFORNECED, IDREACONSIMPXML) VALUES ('000002', 'S')";
    ASSERT_TRUE(Load("45782163000101"));
    EXPECT_TRUE(Form()->dbdDtReaConsImpXML->Enabled());
    EXPECT_EQ(Form()->dbdDtReaConsImpXML->Color(), clInfoBk);
    EXPECT_EQ(Form()->dbdDtReaConsImpXML->Text(), "");

    // 000008: a count and a list: "Lista" with its search button.
    ASSERT_TRUE(Load("33987654000100"));
    EXPECT_FALSE(Form()->dbdDtReaConsImpXML->Enabled());
    EXPECT_EQ(Form()->dbdDtReaConsImpXML->Color(), clBtnFace);
    EXPECT_FALSE(Form()->rbtTodosProdSerConsidera->Checked());
    EXPECT_TRUE(Form()->rbtListaProdSerConsidera->Checked());
    for (const char* c : {"rbtTodosProdSerConsidera", "rbtListaProdSerConsidera",
                          "btpProdSerConsidera", "lblObsProdSerConsidera", "grbProdSerConsidera"})
        EXPECT_TRUE(Component<TControl>(c)->Enabled()) << c;
    EXPECT_EQ(Cli_kxf27400::stProdSerConsidera, "0101;0102;0201");
    EXPECT_EQ(Form()->lblIdForne->Caption(), "Não Homologado");

    // Back to a supplier without list: "Todos", and the radio buttons started no edit.
    ASSERT_TRUE(Load("11222333000181"));
    EXPECT_TRUE(Form()->rbtTodosProdSerConsidera->Checked());
    EXPECT_FALSE(Form()->rbtListaProdSerConsidera->Checked());
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
    EXPECT_FALSE(Form()->sbtConfirma->Enabled());
    EXPECT_EQ(Cli_kxf27400::stProdSerConsidera, "");

    // A list with an empty count: the group stays disabled, "Lista" still shown.
    db_->Sql() << "UPDATE PARAMFORNE SET QTREPETEPRODNF = NULL WHERE CDFORNECED = '000008'";
    ASSERT_TRUE(Load("33987654000100"));
    EXPECT_TRUE(Form()->rbtListaProdSerConsidera->Checked());
    EXPECT_FALSE(Form()->btpProdSerConsidera->Enabled());
    EXPECT_FALSE(Form()->grbProdSerConsidera->Enabled());
}

TEST_F(SupplierTest, SameInscriptionTwiceTakesTheFirstByPersonType) {
    db_->Sql() << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, "
                  "IDFORNEHOMO) VALUES ('000010', '11222333000181', 'Alfa Filial', 'F', 'N')";
    ASSERT_TRUE(Load("11222333000181"));
    EXPECT_EQ(Field("CDFORNECED")->AsString(), "000010");
    EXPECT_EQ(Form()->edtNmRasSocForn->Text(), "Alfa Filial");
    EXPECT_EQ(Form()->lblIdForne->Caption(), "Não Homologado");
}

TEST_F(SupplierTest, HomologationWordOnlyForSAndN) {
    db_->Sql() << "UPDATE FORNECEDOR SET IDFORNEHOMO = 'X' WHERE CDFORNECED = '000001'";
    ASSERT_TRUE(Load("45782163000101"));
    EXPECT_EQ(Form()->lblIdForne->Caption(), "Não Homologado");
    ASSERT_TRUE(Load("11222333000181"));
    EXPECT_EQ(Form()->lblIdForne->Caption(), "");
}

TEST_F(SupplierTest, EmptyInscriptionIsReportedWithoutLookup) {
    ASSERT_TRUE(Load("11222333000181"));
    dialogs_.ClearLog();
    ASSERT_TRUE(Clear("medNrInsJurNF"));
    EXPECT_EQ(Form()->edtNmRasSocForn->Text(), "");
    EXPECT_FALSE(Tab());
    EXPECT_EQ(Dialogs(), std::vector<String>{"error:Fornecedor deve ser informado."});
    EXPECT_TRUE(dialogs_.busy.empty());
    EXPECT_TRUE(FocusIn(Inscricao()));
    EXPECT_EQ(Inscricao()->EditMask(), "");
    // The lookup still stands on the supplier found before; the record is the same.
    EXPECT_EQ(Form()->qryFornecedor->Query()->FieldByName("CDFORNECED")->AsString(), "000001");
    EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
}

TEST_F(SupplierTest, UnknownInscriptionKeepsThePreviousRecord) {
    ASSERT_TRUE(Load("33987654000100"));
    dialogs_.ClearLog();
    ASSERT_TRUE(Clear("medNrInsJurNF"));
    ASSERT_TRUE(Type("medNrInsJurNF", "11222333000182"));
    EXPECT_FALSE(Tab());
    EXPECT_EQ(Dialogs(), std::vector<String>{"error:Fornecedor não cadastrado."});
    EXPECT_TRUE(dialogs_.busy.empty());
    EXPECT_TRUE(FocusIn(Inscricao()));
    EXPECT_EQ(Inscricao()->EditMask(), "");
    EXPECT_EQ(Inscricao()->Text(), "11222333000182");
    EXPECT_EQ(Form()->edtNmRasSocForn->Text(), "");
    EXPECT_EQ(Field("CDFORNECED")->AsString(), "000008");
    EXPECT_EQ(Form()->lblIdForne->Caption(), "Não Homologado");
    EXPECT_TRUE(Form()->rbtListaProdSerConsidera->Checked());
    EXPECT_EQ(Cli_kxf27400::stProdSerConsidera, "0101;0102;0201");
    // The user corrects the bare text and goes on.
    ASSERT_TRUE(Key("medNrInsJurNF", 8));
    ASSERT_TRUE(Type("medNrInsJurNF", "1"));
    ASSERT_TRUE(Tab());
    EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
}

TEST_F(SupplierTest, LeavingAgainReloadsFromTheServer) {
    ASSERT_TRUE(Load("11222333000181"));
    ASSERT_EQ(Busy6(), 1);
    db_->Sql() << "UPDATE PARAMFORNE SET IDSIMPLESNACIONAL = 'N', NRDIASBLOQNFFOR = 12 "
                  "WHERE CDFORNECED = '000001'";
    ASSERT_TRUE(Focus("medNrInsJurNF"));
    EXPECT_EQ(Inscricao()->EditMask(), "");
    ASSERT_TRUE(Tab());
    EXPECT_EQ(Busy6(), 2);
    EXPECT_EQ(Field("IDSIMPLESNACIONAL")->AsString(), "N");
    EXPECT_FALSE(Form()->dckSimples->Checked());
    EXPECT_EQ(Form()->dbeNrDiasBloqNF->Text(), "12");
    EXPECT_EQ(Inscricao()->EditText(), "11.222.333/0001-81");
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
}

TEST_F(SupplierTest, EnteringTheSupplierBoxBlanksTheDaysTextOnly) {
    ASSERT_TRUE(Load("11222333000181"));
    ASSERT_TRUE(Focus("dbeNrDiasBloqNF"));
    ASSERT_TRUE(Focus("medNrInsJurNF"));
    EXPECT_EQ(Form()->dbeNrDiasBloqNF->Text(), "");
    EXPECT_EQ(Field("NRDIASBLOQNFFOR")->AsFloat(), 30);
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
    ASSERT_TRUE(Tab());
    EXPECT_EQ(Form()->dbeNrDiasBloqNF->Text(), "30");
}

TEST_F(SupplierTest, SearchListShowsEverySupplierByTypeThenInscription) {
    db_->Sql() << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN) "
                  "VALUES ('000010', '00000000191', 'Estrangeira X', 'X')";
    dialogs_.picks.push_back(PickCancel());
    ASSERT_TRUE(Click("btpFornecedor"));
    ASSERT_EQ(dialogs_.lists.size(), 1u);
    const auto& l = dialogs_.lists[0];
    EXPECT_EQ(l.title, "Fornecedor");
    EXPECT_EQ(l.columns, (std::vector<String>{"Inscrição", "Razão Social", "Tipo"}));
    const std::vector<std::vector<String>> expected = {
        {"123.456.789-09", "Maria Aparecida Souza", "Física"},
        {"529.982.247-25", "João Carlos Pereira", "Física"},
        {"A98765432", "Exportadora Andina S.A.", "Insc. Juridica"},
        {"11.222.333/0001-81", "Distribuidora Alfa Ltda", "Jurídica"},
        {"12.ABC.345/01DE-35", "Atacadista Gama Ltda", "Jurídica"},
        {"33.987.654/0001-00", "Transportadora Zeta Ltda", "Jurídica"},
        {"45.782.163/0001-01", "Comercial Beta S.A.", "Jurídica"},
        {"7Q.4RK.2M9/0001-50", "Indústria de Embalagens Sol Ltda", "Jurídica"},
        {"0045871236", "Cooperativa Agrícola Vale Verde", "OUTROS"},
        {"00000000191", "Estrangeira X", ""},
    };
    EXPECT_EQ(l.count, static_cast<int>(expected.size()));
    EXPECT_EQ(l.rows, expected);
    // Cancelled: nothing changed.
    EXPECT_EQ(Inscricao()->Text(), "");
    EXPECT_EQ(Form()->cdsParamForne->State(), dsInactive);
    EXPECT_TRUE(Dialogs().empty());
}

TEST_F(SupplierTest, PickFillsInscriptionAndNameAndLoadsOnLeaving) {
    ASSERT_TRUE(Load("11222333000181"));
    dialogs_.ClearLog();
    dialogs_.picks.push_back(PickRow(7)); // the alphanumeric CNPJ 7Q4RK2M9000150
    ASSERT_TRUE(Click("btpFornecedor"));
    EXPECT_TRUE(dialogs_.errors.empty());
    EXPECT_EQ(Inscricao()->Text(), "7Q4RK2M9000150");
    EXPECT_EQ(Form()->edtNmRasSocForn->Text(), "Indústria de Embalagens Sol Ltda");
    EXPECT_TRUE(FocusIn(Inscricao()));
    // Nothing loaded yet: no server call, and the previous supplier's record has gone, so no
    // option shows beside the picked name that is not its own.
    EXPECT_TRUE(dialogs_.busy.empty());
    EXPECT_EQ(Form()->cdsParamForne->State(), dsInactive);
    ASSERT_TRUE(Tab());
    EXPECT_EQ(Field("CDFORNECED")->AsString(), "000009");
    EXPECT_EQ(Inscricao()->EditText(), "7Q.4RK.2M9/0001-50");
    EXPECT_EQ(Form()->lblIdForne->Caption(), "Homologado");
    EXPECT_EQ(Busy6(), 1);
    EXPECT_TRUE(Dialogs().empty());
}

TEST_F(SupplierTest, ServerRefusalKeepsThePreviousRecord) {
    // The server reads another database where the supplier found here does not exist.
    TestDatabase other("sqlite", TestDatabase::Init::InProcess);
    InProcessServer otherServer(other.Url(), "2026-12-09");
    db_->Sql() << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN) "
                  "VALUES ('000010', '11444777000161', 'Nova Comercial Ltda', 'J')";
    BusyAwareDialogs dialogs;
    SetDialogService(&dialogs);
    ASSERT_TRUE(Load("33987654000100"));
    Form()->netParamForne->SetConnected(false);
    Brannox::SetServer("127.0.0.1:" + std::to_string(otherServer.Port()));
    Form()->netParamForne->SetConnected(true);

    ASSERT_TRUE(Clear("medNrInsJurNF"));
    ASSERT_TRUE(Type("medNrInsJurNF", "11444777000161"));
    EXPECT_FALSE(Tab());
    ASSERT_EQ(dialogs.dialogs.size(), 1u);
    EXPECT_EQ(dialogs.dialogs[0].kind, "error");
    EXPECT_EQ(dialogs.dialogs[0].text, "Fornecedor não cadastrado.");
    EXPECT_EQ(dialogs.underBusy, std::vector<bool>{false});
    EXPECT_FALSE(dialogs.busyVisible);
    EXPECT_EQ(dialogs.busyShows, 2);
    EXPECT_TRUE(FocusIn(Inscricao()));
    EXPECT_EQ(Inscricao()->EditMask(), "");
    EXPECT_EQ(Field("CDFORNECED")->AsString(), "000008");
    EXPECT_EQ(Cli_kxf27400::stProdSerConsidera, "0101;0102;0201");
    EXPECT_EQ(DateToStr(Cli_kxf27400::dtDataAtual), "08/12/2026");
    SetDialogService(&dialogs_);
}

TEST_F(SupplierTest, ServerDownKeepsThePreviousRecordAndRemovesTheBusyAnimation) {
    BusyAwareDialogs dialogs;
    SetDialogService(&dialogs);
    ASSERT_TRUE(Load("33987654000100"));
    StopServer();
    ASSERT_TRUE(Clear("medNrInsJurNF"));
    ASSERT_TRUE(Type("medNrInsJurNF", "11222333000181"));
    EXPECT_FALSE(Tab());
    ASSERT_EQ(dialogs.dialogs.size(), 1u);
    EXPECT_EQ(dialogs.dialogs[0].kind, "error");
    EXPECT_FALSE(dialogs.dialogs[0].text.empty());
    EXPECT_EQ(dialogs.underBusy, std::vector<bool>{false});
    EXPECT_FALSE(Showavi::Showing());
    EXPECT_EQ(dialogs.busyShows, 2);
    EXPECT_TRUE(FocusIn(Inscricao()));
    EXPECT_EQ(Inscricao()->EditMask(), "");
    EXPECT_EQ(Field("CDFORNECED")->AsString(), "000008");
    EXPECT_EQ(Form()->lblIdForne->Caption(), "Não Homologado");
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
    SetDialogService(&dialogs_);
}
