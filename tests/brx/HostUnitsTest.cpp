// The host library's units and components: Consiste, TMessages, the busy animation, the search
// button, the multi-select list and the date edit.
#include <gtest/gtest.h>

#include "Consiste.h"
#include "Pesqlista.h"
#include "Showavi.h"
#include "brx/BtnPesquisa.h"
#include "brx/DBDateEditPlus.h"
#include "brx/Messages.h"
#include "db/DBClient.h"
#include "vcl/FormReader.h"
#include "vcl/Forms.h"
#include "vcl/Input.h"

namespace {

TEST(Consiste, EmptyStringAjustaAndInscription) {
    EXPECT_TRUE(Consiste::EmptyString(""));
    EXPECT_TRUE(Consiste::EmptyString("   "));
    EXPECT_FALSE(Consiste::EmptyString(" 0 "));

    EXPECT_EQ(Consiste::Ajusta("5", 2), "05");
    EXPECT_EQ(Consiste::Ajusta(" 3 ", 2), "03");
    EXPECT_EQ(Consiste::Ajusta("12", 2), "12");
    EXPECT_EQ(Consiste::Ajusta("", 2), "");
    EXPECT_EQ(Consiste::Ajusta("  ", 2), "");
    EXPECT_EQ(Consiste::Ajusta("A", 2), "A"); // not a code of digits: left as typed

    String s = "11.222.333/0001-81";
    EXPECT_EQ(Consiste::Ajusta_Inscricao(s), "11222333000181");
    EXPECT_EQ(s, "11222333000181");
    s = " 12.abc.345/01de-35 ";
    EXPECT_EQ(Consiste::Ajusta_Inscricao(s), "12ABC34501DE35");
    s = "529.982.247-25";
    EXPECT_EQ(Consiste::Ajusta_Inscricao(s), "52998224725");
}

TEST(Consiste, PictPessByTypeOrInscription) {
    const String cpf = "999.999.999-99;0;_", cnpj = ">AA.AAA.AAA/AAAA-99;0;_";
    EXPECT_EQ(Consiste::PictPess("F"), cpf);
    EXPECT_EQ(Consiste::PictPess("J"), cnpj);
    EXPECT_EQ(Consiste::PictPess("O"), "");
    EXPECT_EQ(Consiste::PictPess("I"), "");
    EXPECT_EQ(Consiste::PictPess("52998224725"), cpf);
    EXPECT_EQ(Consiste::PictPess("11222333000181"), cnpj);
    EXPECT_EQ(Consiste::PictPess("12ABC34501DE35"), cnpj);
    EXPECT_EQ(Consiste::PictPess("12ABC34501DEXX"), ""); // check digits are digits
    EXPECT_EQ(Consiste::PictPess("5299822472"), "");
    EXPECT_EQ(Consiste::PictPess("A98765432"), "");
    // The mask leaves the stored inscription as the edit's value, typed bare or punctuated.
    EXPECT_EQ(FormatMaskText(cnpj, "12ABC34501DE35"), "12.ABC.345/01DE-35");
    EXPECT_EQ(FormatMaskText(cpf, "52998224725"), "529.982.247-25");
}

TEST(Consiste, MaxNumberAbortsOnlyKeysThatOverflow) {
    auto refused = [](const String& text, const String& key, int start, int len) {
        try {
            Consiste::MaxNumber(text, 9, 2, key, start, len);
            return false;
        } catch (const EAbort&) {
            return true;
        }
    };
    EXPECT_FALSE(refused("123456789", ",", 9, 0));
    EXPECT_TRUE(refused("123456789", "1", 9, 0));   // a tenth integer digit
    EXPECT_FALSE(refused("123456789", "1", 0, 1));  // replaces a digit
    EXPECT_TRUE(refused("1,23", "4", 4, 0));        // a third decimal
    EXPECT_FALSE(refused("1,23", "4", 0, 0));       // before the comma
    EXPECT_FALSE(refused("12345678,9", "9", 0, 0)); // a ninth integer digit is allowed
    EXPECT_FALSE(refused("1,23", String(1, '\0'), 4, 0));
    EXPECT_FALSE(refused("1234567890123", "\b", 13, 0)); // backspace never refused
}

TEST(Consiste, CheckResultServAcceptsOnlyTheAnswerForms) {
    EXPECT_TRUE(Consiste::CheckResultServ(Variant::OleStr("erro"), true, 0).IsString());
    Variant ok = Variant::Array({Variant("S"), Variant::Null(), Variant("08/12/2026")});
    EXPECT_EQ(Consiste::CheckResultServ(ok, true, 0)[0].AsString(), "S");
    EXPECT_NO_THROW(
        Consiste::CheckResultServ(Variant::Array({Variant("N"), Variant("x")}), true, 0));
    EXPECT_THROW(Consiste::CheckResultServ(Variant(), true, 0), Exception);
    EXPECT_THROW(Consiste::CheckResultServ(Variant::Null(), true, 0), Exception);
    EXPECT_THROW(Consiste::CheckResultServ(Variant(3), true, 0), Exception);
    EXPECT_THROW(Consiste::CheckResultServ(Variant::Array({}), true, 0), Exception);
    EXPECT_THROW(Consiste::CheckResultServ(Variant::Array({Variant(1)}), true, 0), Exception);
}

TEST(Consiste, SetChildEnabledRestoresOnlyWhatItDisabled) {
    TGroupBox box(nullptr);
    TEdit a(nullptr), b(nullptr);
    a.SetParent(&box);
    b.SetParent(&box);
    b.SetEnabled(false); // display-only
    Consiste::SetChildEnabled(&box, false);
    EXPECT_FALSE(a.Enabled());
    EXPECT_FALSE(b.Enabled());
    Consiste::SetChildEnabled(&box, false); // twice changes nothing
    Consiste::SetChildEnabled(&box, true);
    EXPECT_TRUE(a.Enabled());
    EXPECT_FALSE(b.Enabled());
    a.SetParent(nullptr);
    b.SetParent(nullptr);
}

TEST(Consiste, MensErroShowsAndAbortsOnRequest) {
    TScriptedDialogs d;
    SetDialogService(&d);
    EXPECT_NO_THROW(Consiste::MensErro("primeiro", false));
    EXPECT_THROW(Consiste::MensErro("segundo", true), EAbort);
    ASSERT_EQ(d.dialogs.size(), 2u);
    EXPECT_EQ(d.dialogs[0].kind, "error");
    EXPECT_EQ(d.dialogs[1].text, "segundo");
    SetDialogService(nullptr);
}

TEST(Showavi, OneAnimationAtATimeAndHideIsHarmless) {
    TScriptedDialogs d;
    SetDialogService(&d);
    Showavi::DeactiveShowAvi();
    EXPECT_EQ(d.busyHides, 0);
    Showavi::ActiveShowAvi(nullptr, 0);
    Showavi::ActiveShowAvi(nullptr, 1, "Aplicando alterações no servidor...");
    EXPECT_TRUE(d.busyVisible);
    Showavi::DeactiveShowAvi();
    EXPECT_FALSE(d.busyVisible);
    EXPECT_FALSE(Showavi::Showing());
    ASSERT_EQ(d.busy.size(), 2u);
    EXPECT_EQ(d.busy[1].text, "Aplicando alterações no servidor...");
    SetDialogService(nullptr);
}

TEST(Messages, EntriesByKeyAndMissingKeyRaises) {
    TMessages m(nullptr);
    m.SetName("msgPadrao");
    m.Messages().Add("Canc|Cancelar operação?");
    m.Messages().Add("Com|barra|no texto");
    EXPECT_EQ(m.Msg("Canc"), "Cancelar operação?");
    EXPECT_EQ(m.Msg("Com"), "barra|no texto");
    EXPECT_THROW(m.Msg("Nada"), Exception);
    TScriptedDialogs d;
    d.answers.push_back("yes");
    SetDialogService(&d);
    EXPECT_EQ(m.ShowMsg("Canc", mtConfirmation, {mbYes, mbNo}, 0), mrYes);
    EXPECT_EQ(d.dialogs.at(0).kind, "question");
    EXPECT_EQ(d.dialogs.at(0).answer, "yes");
    SetDialogService(nullptr);
}

// A small form with a client data set of codes, a search button and a date edit bound to a record.
class TPickForm : public TForm {
public:
    explicit TPickForm(TComponent* o) : TForm(o) {
        Publish("Before", &TPickForm::Before);
        Publish("After", &TPickForm::After);
    }
    String ClassName() const override { return "TPickForm"; }
    void Before(TObject*, bool&) { trace += "before;"; }
    void After(TObject*) { trace += "after;"; }
    String trace;
};

const char* kPickForm = R"(object frmPick: TPickForm
  object edtCodigo: TEdit
    TabOrder = 0
  end
  object edtOutro: TEdit
    TabOrder = 1
  end
  object btpCodigo: TBtnPesquisa
    Associate = edtCodigo
    Title = 'Produto'
    DataSource = dtsLista
    EmptyError = 'Não há produto cadastrado.'
    OnBeforePesq = Before
    OnAfterPesq = After
  end
  object cdsLista: TClientDataSet
    object cdsListaCODIGO: TStringField
      FieldName = 'CODIGO'
      DisplayLabel = 'Código'
      Size = 10
    end
    object cdsListaNOME: TStringField
      FieldName = 'NOME'
      DisplayLabel = 'Nome'
      Size = 40
    end
    object cdsListaOCULTO: TStringField
      FieldName = 'OCULTO'
      Visible = False
      Size = 1
    end
  end
  object dtsLista: TDataSource
    DataSet = cdsLista
  end
end
)";

class BrxFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetDialogService(&d);
        f = new TPickForm(Application);
        TFormReader(f).Read(kPickForm);
        f->Show();
        cds = FindOwned<TClientDataSet>(f, "cdsLista");
    }
    void TearDown() override {
        delete f;
        SetDialogService(nullptr);
    }
    void Fill(int n) {
        nlohmann::json rows = nlohmann::json::array();
        for (int i = 1; i <= n; ++i) {
            char code[16];
            snprintf(code, sizeof code, "%02d", i);
            rows.push_back({code, String("Produto ") + code, "x"});
        }
        cds->SetData(Variant::Json({{"fields",
                                     {{{"name", "CODIGO"}, {"type", "string"}, {"size", 10}},
                                      {{"name", "NOME"}, {"type", "string"}, {"size", 40}},
                                      {{"name", "OCULTO"}, {"type", "string"}, {"size", 1}}}},
                                    {"rows", rows}}));
    }
    TScriptedDialogs d;
    TPickForm* f = nullptr;
    TClientDataSet* cds = nullptr;
};

TEST_F(BrxFormTest, SearchButtonListsVisibleFieldsAndLeavesTheDataSetOnThePick) {
    Fill(3);
    UserInput::Focus(FindOwned<TEdit>(f, "edtOutro"));
    d.picks.push_back({false, 1, {}, false});
    ASSERT_TRUE(UserInput::Click(FindOwned<TBtnPesquisa>(f, "btpCodigo")));
    EXPECT_EQ(f->trace, "before;after;");
    ASSERT_EQ(d.lists.size(), 1u);
    EXPECT_EQ(d.lists[0].title, "Produto");
    EXPECT_EQ(d.lists[0].columns, (std::vector<String>{"Código", "Nome"}));
    EXPECT_EQ(d.lists[0].count, 3);
    EXPECT_EQ(d.lists[0].rows[2], (std::vector<String>{"03", "Produto 03"}));
    EXPECT_EQ(cds->FieldByName("CODIGO")->AsString(), "02");
    EXPECT_EQ(f->ActiveControl()->Name(), "edtCodigo"); // the associate takes the focus
    // A button never takes the focus itself.
    EXPECT_FALSE(FindOwned<TBtnPesquisa>(f, "btpCodigo")->CanFocus());
}

TEST_F(BrxFormTest, SearchCancelledOrEmptyRunsNoAfterSearch) {
    Fill(0);
    UserInput::Click(FindOwned<TBtnPesquisa>(f, "btpCodigo"));
    EXPECT_EQ(f->trace, "before;");
    ASSERT_EQ(d.dialogs.size(), 1u);
    EXPECT_EQ(d.dialogs[0].text, "Não há produto cadastrado.");
    EXPECT_TRUE(d.lists.empty());
    Fill(2);
    f->trace.clear();
    d.picks.push_back({true, -1, {}, false});
    UserInput::Click(FindOwned<TBtnPesquisa>(f, "btpCodigo"));
    EXPECT_EQ(f->trace, "before;");
}

TEST_F(BrxFormTest, AssignedOnClickReplacesTheSearch) {
    Fill(2);
    auto* b = FindOwned<TBtnPesquisa>(f, "btpCodigo");
    int clicks = 0;
    b->OnClick = [&](TObject*) { ++clicks; };
    UserInput::Click(b);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(f->trace, "");
    EXPECT_TRUE(d.lists.empty());
}

TEST_F(BrxFormTest, PesquisaListaChecksTheCurrentKeysAndReturnsTheChoiceInListOrder) {
    Fill(5);
    auto* dts = FindOwned<TDataSource>(f, "dtsLista");
    String list = "03;01";
    d.picks.push_back({false, -1, {"04", "02"}, true});
    EXPECT_TRUE(
        Pesqlista::PesquisaLista(dts, "CODIGO", "Produto|Não há produto cadastrado.", false, list));
    EXPECT_EQ(list, "02;04");
    ASSERT_EQ(d.lists.size(), 1u);
    EXPECT_EQ(d.lists[0].checked, (std::vector<String>{"01", "03"}));
    EXPECT_EQ(d.lists[0].title, "Produto");
    // Cancelled: nothing changes.
    d.picks.push_back({true, -1, {}, true});
    EXPECT_FALSE(Pesqlista::PesquisaLista(dts, "CODIGO", "Produto|vazio", false, list));
    EXPECT_EQ(list, "02;04");
}

TEST_F(BrxFormTest, PesquisaListaRefusesAChoiceLongerThanTheStoredField) {
    Fill(99); // 99 codes of 2 characters and 98 separators: 296 characters
    auto* dts = FindOwned<TDataSource>(f, "dtsLista");
    String list = "01";
    TScriptedDialogs::PickAnswer all{false, -1, {}, true};
    for (int i = 1; i <= 99; ++i) {
        char code[16];
        snprintf(code, sizeof code, "%02d", i);
        all.keys.push_back(code);
    }
    d.picks.push_back(all);
    try {
        Pesqlista::PesquisaLista(dts, "CODIGO", "Produto|vazio", false, list);
        FAIL() << "no refusal";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("255"), String::npos) << e.Message();
    }
    EXPECT_EQ(list, "01");
    // Empty data set: its message, no list.
    Fill(0);
    EXPECT_FALSE(
        Pesqlista::PesquisaLista(dts, "CODIGO", "Produto|Não há produto cadastrado.", false, list));
    EXPECT_EQ(d.dialogs.back().text, "Não há produto cadastrado.");
}

TEST(DBDateEditPlus, EmptyTextValidityAndSetDate) {
    TDBDateEditPlus e(nullptr);
    EXPECT_EQ(e.Text(), "");
    EXPECT_NO_THROW(e.CheckValidDate());
    EXPECT_EQ(e.GetDate().Val, 0.0);
    e.SetDate(EncodeDate(2026, 12, 8) + EncodeTime(10, 30, 0));
    EXPECT_EQ(e.EditText(), "08/12/2026");
    e.SaveTime = false;
    EXPECT_EQ(e.GetDate().Val, EncodeDate(2026, 12, 8).Val);
    e.NomeSemana.Assign({"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"});
    EXPECT_EQ(e.WeekdayName(), "Terça");
    e.SetEditText("31/02/2026");
    EXPECT_FALSE(e.HasValidDate());
    try {
        e.CheckValidDate();
        FAIL();
    } catch (const EConvertError& ex) {
        EXPECT_NE(ex.Message().find("31/02/2026"), String::npos);
    }
}

} // namespace
