// The edit cycle: a change starts an edit and locks the supplier box; Confirm checks, posts,
// sends, merges and reloads; Cancel and Esc ask and discard; the flags and the whole-number
// key filter.
#include "ScreenFixture.h"

#include "Showavi.h"

class EditCycleTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_TRUE(Open());
        ASSERT_TRUE(Load("11222333000181"));
        dialogs_.ClearLog();
    }
    TClientDataSet* Cds() { return Form()->cdsParamForne; }
    void ExpectEditing(bool editing) {
        EXPECT_EQ(Cds()->State(), editing ? dsEdit : dsBrowse);
        EXPECT_EQ(Form()->sbtConfirma->Enabled(), editing);
        EXPECT_EQ(Form()->sbtCancela->Enabled(), editing);
        EXPECT_EQ(Form()->medNrInsJurNF->Enabled(), !editing);
        EXPECT_EQ(Form()->btpFornecedor->Enabled(), !editing);
        EXPECT_EQ(Form()->medNrInsJurNF->MaxLength(), 20);
        // Display-only controls of the box stay disabled whatever the cycle does.
        EXPECT_FALSE(Form()->edtNmRasSocForn->Enabled());
    }
    std::string Stored(const char* field) {
        auto row = db_->ParamRow("000001");
        return row ? row->at(field).dump() : "(sem linha)";
    }
};

TEST_F(EditCycleTest, EachFlagClickStartsAnEditAndWritesItsField) {
    for (const OptionBox& f : kOptionBoxes) {
        if (!f.ownClick) continue;
        SCOPED_TRACE(f.box);
        auto* box = Component<TDBCheckBox>(f.box);
        const String before = Field(f.field)->AsString();
        ASSERT_TRUE(Click(f.box));
        ExpectEditing(true);
        EXPECT_EQ(Field(f.field)->AsString(), box->Checked() ? "S" : "N");
        EXPECT_NE(Field(f.field)->AsString(), before);
        // A second click writes the other value again.
        ASSERT_TRUE(Click(f.box));
        EXPECT_EQ(Field(f.field)->AsString(), before);
        dialogs_.answers.push_back("yes");
        ASSERT_TRUE(Click("sbtCancela"));
        ExpectEditing(false);
    }
    EXPECT_EQ(db_->LogRows("000001").size(), 0u);
}

TEST_F(EditCycleTest, BoxesWithoutHandlerStillEditAndSaveThroughTheBinding) {
    for (const char* box : {"dckProcNotaDebCre", "dckProdIGXML"}) {
        SCOPED_TRACE(box);
        ASSERT_TRUE(Click(box));
        ExpectEditing(true);
        ASSERT_TRUE(Click("sbtConfirma"));
        ExpectEditing(false);
    }
    EXPECT_EQ(Stored("IDPROCNOTADEBCRE"), "\"S\"");
    EXPECT_EQ(Stored("IDUTPRIGXML"), "\"S\"");
    EXPECT_TRUE(Dialogs().empty());
}

TEST_F(EditCycleTest, ConfirmSendsTheDeltaMergesAndReloads) {
    // Changed behind the screen's back: the reload after saving must show it.
    db_->Sql() << "UPDATE PARAMFORNE SET IDOBRIMPXMLNF = 'N' WHERE CDFORNECED = '000001'";
    ASSERT_TRUE(Click("dckSimples"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    ExpectEditing(false);
    EXPECT_EQ(Cds()->ChangeCount(), 0);
    // The word in the host's status line instead of a dialog.
    const String notice = "Parâmetros do fornecedor 000001 gravados às ";
    EXPECT_EQ(Application->StatusText().substr(0, notice.size()), notice);
    EXPECT_EQ(Application->StatusText().size(), notice.size() + 5); // hh:nn
    EXPECT_EQ(Stored("IDSIMPLESNACIONAL"), "\"N\"");
    EXPECT_EQ(Field("IDSIMPLESNACIONAL")->AsString(), "N");
    EXPECT_EQ(Field("IDOBRIMPXMLNF")->AsString(), "N");
    EXPECT_FALSE(Form()->dckOImpXmlNF->Checked());
    // The sending animation over the screen, then the reload's.
    ASSERT_EQ(dialogs_.busy.size(), 2u);
    EXPECT_EQ(dialogs_.busy[0].kind, 1);
    EXPECT_EQ(dialogs_.busy[0].text, "Aplicando alterações no servidor...");
    EXPECT_EQ(dialogs_.busy[0].over, "frmParamForne");
    EXPECT_EQ(dialogs_.busy[1].kind, 6);
    EXPECT_FALSE(Showavi::Showing());
    // One log row: the only field that changed.
    auto log = db_->LogRows("000001");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("NMCAMPO"), "IDSIMPLESNACIONAL");
    EXPECT_EQ(log[0].at("DSVALORANT"), "S");
    EXPECT_EQ(log[0].at("DSVALORNOVO"), "N");
}

TEST_F(EditCycleTest, DaysBoxBlankSendsNoDaysAndZeroIsAValue) {
    ASSERT_TRUE(Clear("dbeNrDiasBloqNF"));
    ExpectEditing(true);
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(Stored("NRDIASBLOQNFFOR"), "null");
    EXPECT_EQ(Form()->dbeNrDiasBloqNF->Text(), "");

    ASSERT_TRUE(Type("dbeNrDiasBloqNF", "0"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(Stored("NRDIASBLOQNFFOR"), "0.0");
    EXPECT_EQ(Form()->dbeNrDiasBloqNF->Text(), "0");

    ASSERT_TRUE(Clear("dbeNrDiasBloqNF"));
    ASSERT_TRUE(Type("dbeNrDiasBloqNF", "45"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_EQ(Stored("NRDIASBLOQNFFOR"), "45.0");
    EXPECT_EQ(db_->LogRows("000001").size(), 3u);
}

TEST_F(EditCycleTest, CancelAsksAndYesDiscardsAndReloads) {
    ASSERT_TRUE(Click("dckSimples"));
    ASSERT_TRUE(Type("dbeNrDiasBloqNF", "7"));
    dialogs_.answers.push_back("no");
    ASSERT_TRUE(Click("sbtCancela"));
    EXPECT_EQ(Dialogs(), std::vector<String>{"question:Cancelar operação?"});
    ExpectEditing(true);
    EXPECT_EQ(Field("IDSIMPLESNACIONAL")->AsString(), "N");

    dialogs_.busy.clear();
    dialogs_.answers.push_back("yes");
    ASSERT_TRUE(Click("sbtCancela"));
    EXPECT_EQ(Dialogs(), std::vector<String>{"question:Cancelar operação?"});
    ExpectEditing(false);
    EXPECT_EQ(Cds()->ChangeCount(), 0);
    EXPECT_EQ(Field("IDSIMPLESNACIONAL")->AsString(), "S");
    EXPECT_TRUE(Form()->dckSimples->Checked());
    EXPECT_EQ(Form()->dbeNrDiasBloqNF->Text(), "30");
    ASSERT_EQ(dialogs_.busy.size(), 1u); // the reload
    EXPECT_EQ(dialogs_.busy[0].kind, 6);
    EXPECT_EQ(Stored("IDSIMPLESNACIONAL"), "\"S\"");
    EXPECT_TRUE(db_->LogRows("000001").empty());
}

TEST_F(EditCycleTest, EscAsksOnlyWhileEditing) {
    ASSERT_TRUE(Key("dckSimples", 27));
    EXPECT_TRUE(Dialogs().empty());
    ExpectEditing(false);

    ASSERT_TRUE(Click("dckVencXML"));
    dialogs_.answers.push_back("no");
    ASSERT_TRUE(Key("dckVencXML", 27));
    EXPECT_EQ(Dialogs(), std::vector<String>{"question:Cancelar operação?"});
    ExpectEditing(true);
    dialogs_.answers.push_back("yes");
    ASSERT_TRUE(Key("dckVencXML", 27));
    EXPECT_EQ(Dialogs(), std::vector<String>{"question:Cancelar operação?"});
    ExpectEditing(false);
    EXPECT_EQ(Field("IMPVENCXML")->AsString(), "N");
}

TEST_F(EditCycleTest, WholeNumberEditsDiscardSignsSeparatorsAndLowerE) {
    struct Case {
        const char* typed;
        const char* shown;
    };
    const Case cases[] = {
        {"1+2", "12"}, {"3,4", "34"}, {"-5", "5"}, {"6.7", "67"}, {"8e9", "89"},
    };
    for (const char* edit : {"dbeNrDiasBloqNF", "dbeQtRepeteProdNF"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(edit) + " " + c.typed);
            ASSERT_TRUE(Clear(edit));
            ASSERT_TRUE(Type(edit, c.typed));
            EXPECT_EQ(Component<TDBEdit>(edit)->Text(), c.shown);
        }
        // Backspace reaches the edit.
        ASSERT_TRUE(Key(edit, 8));
        EXPECT_EQ(Component<TDBEdit>(edit)->Text(), "8");
    }
    // The filter itself lets 'E', digits and backspace through; the edit judges them after.
    for (Char k : {Char(U'E'), Char(U'0'), Char(U'9'), Char(8)}) {
        Char key = k;
        Form()->dbeNrDiasBloqNFKeyPress(Form()->dbeNrDiasBloqNF, key);
        EXPECT_EQ(key, k);
    }
    for (Char k : {Char(U'+'), Char(U','), Char(U'-'), Char(U'.'), Char(U'e')}) {
        Char key = k;
        Form()->dbeNrDiasBloqNFKeyPress(Form()->dbeNrDiasBloqNF, key);
        EXPECT_EQ(key, Char(0));
    }
}

TEST_F(EditCycleTest, FailedSendDiscardsTheChangesAndKeepsTheButtons) {
    ASSERT_TRUE(Click("dckSimples"));
    ASSERT_TRUE(Type("dbeNrDiasBloqNF", "9"));
    StopServer();
    EXPECT_FALSE(Click("sbtConfirma"));
    auto shown = Dialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].substr(0, 6), "error:");
    EXPECT_FALSE(Showavi::Showing());
    EXPECT_EQ(Cds()->ChangeCount(), 0);
    EXPECT_EQ(Cds()->State(), dsBrowse);
    EXPECT_EQ(Field("IDSIMPLESNACIONAL")->AsString(), "S");
    EXPECT_EQ(Field("NRDIASBLOQNFFOR")->AsFloat(), 30);
    EXPECT_TRUE(Form()->dckSimples->Checked());
    EXPECT_TRUE(Form()->sbtConfirma->Enabled());
    EXPECT_TRUE(Form()->sbtCancela->Enabled());
    EXPECT_TRUE(Form()->medNrInsJurNF->Enabled());

    // Confirm in browse only disables the two buttons; Cancel there does nothing.
    dialogs_.busy.clear();
    ASSERT_TRUE(Click("sbtCancela"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_TRUE(Form()->sbtCancela->Enabled());
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_TRUE(dialogs_.busy.empty());
    ExpectEditing(false);
}

TEST_F(EditCycleTest, FailedCheckKeepsTheEditAndTheNextConfirmSaves) {
    ASSERT_TRUE(Click("dckSimples"));
    ASSERT_TRUE(Clear("dbeCdGrupoPermLan"));
    ASSERT_TRUE(Type("dbeCdGrupoPermLan", "98"));
    EXPECT_FALSE(Click("sbtConfirma"));
    // Leaving the code box already reported it; Confirm reports it once more.
    auto shown = Dialogs();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), "error:Grupo de Operadores não cadastrado.");
    ExpectEditing(true);
    EXPECT_EQ(Stored("IDSIMPLESNACIONAL"), "\"S\"");

    ASSERT_TRUE(Clear("dbeCdGrupoPermLan"));
    ASSERT_TRUE(Type("dbeCdGrupoPermLan", "3"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    ExpectEditing(false);
    EXPECT_EQ(Stored("IDSIMPLESNACIONAL"), "\"N\"");
    EXPECT_EQ(Stored("CDGRPERMLANMAX"), "\"03\"");
    EXPECT_EQ(Form()->dbeDescGrupoXML->Text(), "Recebimento");
}

TEST_F(EditCycleTest, ServerRefusalOfAStaleRowLosesNothingStored) {
    // Another user saved the same option meanwhile: the save is refused, the stored row stays.
    ASSERT_TRUE(Click("dckSimples"));
    db_->Sql() << "UPDATE PARAMFORNE SET IDSIMPLESNACIONAL = 'N' WHERE CDFORNECED = '000001'";
    EXPECT_FALSE(Click("sbtConfirma"));
    EXPECT_EQ(Dialogs(), std::vector<String>{"error:Registro alterado por outro usuário. "
                                             "Recarregue o fornecedor e repita a alteração."});
    EXPECT_EQ(Cds()->ChangeCount(), 0);
    EXPECT_FALSE(Showavi::Showing());
    EXPECT_EQ(Stored("IDSIMPLESNACIONAL"), "\"N\"");
    EXPECT_TRUE(db_->LogRows("000001").empty());
}
