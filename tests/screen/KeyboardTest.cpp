// The screen by keyboard alone: the product choice and its list, the focus handed on when its
// control switches off, the lists opening on the current value, and the supplier kept on screen
// when a reload fails.
#include "ScreenFixture.h"

namespace {

class KeyboardTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_TRUE(Open());
    }
    TWinControl* Active() const { return Form()->ActiveControl(); }
    bool KeyDown(const char* control, Word key, TShiftState shift = 0) {
        auto* w = Component<TWinControl>(control);
        if (!w->Focused() && !UserInput::Focus(w)) return false;
        return UserInput::KeyDown(w, key, shift);
    }
};

// The product choice without the mouse: the arrows move between "Todos" and "Lista" and check
// them as a click does (the edit starts, the search follows "Lista"), and F4 or Alt+Down on
// "Lista" or on the count opens the product list, where the search button could not be reached.
TEST_F(KeyboardTest, TheProductChoiceAndItsListByKeyboard) {
    db_->Sql() << "UPDATE PARAMFORNE SET QTREPETEPRODNF = 2 WHERE CDFORNECED = '000001'";
    ASSERT_TRUE(Load("11222333000181"));
    ASSERT_TRUE(Form()->rbtTodosProdSerConsidera->Checked());
    ASSERT_TRUE(Focus("dbeQtRepeteProdNF"));
    ASSERT_TRUE(Tab());
    ASSERT_EQ(Active(), Form()->rbtTodosProdSerConsidera) << "Tab enters the group at the checked";
    ASSERT_EQ(Form()->cdsParamForne->State(), dsBrowse);

    // Under "Todos" F4 opens nothing: there is no list to choose.
    ASSERT_TRUE(KeyDown("rbtTodosProdSerConsidera", VK_F4));
    EXPECT_TRUE(dialogs_.lists.empty());

    struct Step {
        Word key;
        const char* focus;
        bool lista;
    };
    for (const Step& s : {Step{VK_RIGHT, "rbtListaProdSerConsidera", true},
                          Step{VK_DOWN, "rbtTodosProdSerConsidera", false}, // wraps around
                          Step{VK_UP, "rbtListaProdSerConsidera", true},
                          Step{VK_LEFT, "rbtTodosProdSerConsidera", false},
                          Step{VK_LEFT, "rbtListaProdSerConsidera", true}}) {
        SCOPED_TRACE(s.focus);
        ASSERT_TRUE(UserInput::KeyDown(Active(), s.key));
        EXPECT_EQ(Active()->Name(), s.focus);
        EXPECT_EQ(Form()->rbtListaProdSerConsidera->Checked(), s.lista);
        EXPECT_EQ(Form()->rbtTodosProdSerConsidera->Checked(), !s.lista);
        EXPECT_EQ(Form()->btpProdSerConsidera->Enabled(), s.lista);
        EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
        EXPECT_TRUE(Form()->sbtConfirma->Enabled());
    }
    // A modifier held with an arrow moves nothing.
    ASSERT_TRUE(KeyDown("rbtListaProdSerConsidera", VK_RIGHT, ssShift));
    EXPECT_EQ(Active(), Form()->rbtListaProdSerConsidera);

    struct Open {
        const char* control;
        Word key;
        TShiftState shift;
        std::vector<String> chosen;
        const char* stored;
    };
    for (const Open& o : {Open{"rbtListaProdSerConsidera", VK_F4, 0, {"02"}, "02"},
                          Open{"dbeQtRepeteProdNF", VK_DOWN, ssAlt, {"01", "03"}, "01;03"},
                          Open{"rbtListaProdSerConsidera", VK_DOWN, ssAlt, {"04"}, "04"},
                          Open{"dbeQtRepeteProdNF", VK_F4, 0, {}, ""}}) {
        SCOPED_TRACE(o.control);
        dialogs_.lists.clear();
        dialogs_.picks.push_back(PickChecked(o.chosen));
        ASSERT_TRUE(KeyDown(o.control, o.key, o.shift));
        ASSERT_EQ(dialogs_.lists.size(), 1u);
        EXPECT_EQ(dialogs_.lists[0].title, "Produto");
        EXPECT_EQ(Field("CDPRODCONSREPE")->AsString(), o.stored);
        EXPECT_EQ(Active()->Name(), o.control) << "the list gives the focus back";
    }
    EXPECT_TRUE(Dialogs().empty());
}

// A control switched off while it has the focus hands it to the next control in tab order once
// the event is over, and the next key goes there: the consistency date, closed by the reload
// after Esc → "Sim" or after Ctrl+S, gives way to the repetition count.
TEST_F(KeyboardTest, TheFocusMovesOnFromAControlSwitchedOffUnderIt) {
    struct Case {
        const char* how;
        std::function<bool()> act;
        std::vector<String> answers;
    };
    const std::vector<Case> cases = {
        {"Esc", [this] { return UserInput::Key(Active(), 27); }, {"yes"}},
        {"Ctrl+S", [this] { return UserInput::ShortCut(Form(), "Ctrl+S"); }, {"yes"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        ASSERT_TRUE(Load("45782163000101")); // no date stored: ticking opens the date box
        ASSERT_TRUE(Click("dckReaConsImpXml"));
        ASSERT_TRUE(Focus("dbdDtReaConsImpXML"));
        ASSERT_TRUE(Form()->dbdDtReaConsImpXML->Enabled());
        for (const String& a : c.answers)
            dialogs_.answers.push_back(a);
        ASSERT_TRUE(c.act());
        EXPECT_FALSE(Form()->dbdDtReaConsImpXML->Enabled());
        EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
        ASSERT_EQ(Active(), Form()->dbeQtRepeteProdNF);
        // The first key counts, and Tab goes on from there.
        ASSERT_TRUE(UserInput::Key(Active(), U'3'));
        EXPECT_EQ(Form()->dbeQtRepeteProdNF->Text(), "3");
        EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
        ASSERT_TRUE(Tab());
        EXPECT_EQ(Active(), Form()->rbtTodosProdSerConsidera);
        dialogs_.answers.push_back("yes");
        ASSERT_TRUE(UserInput::Key(Active(), 27));
        Dialogs();
    }
    // Hidden works as disabled does.
    ASSERT_TRUE(Focus("dckSimples"));
    ASSERT_TRUE(RunEvent([this] { Form()->dckSimples->SetVisible(false); }));
    EXPECT_EQ(Active(), Form()->dckVencXML);
}

// A search list opens on the row of the value its box holds (the group loaded, the supplier
// typed, the products chosen), on the first row when the value is not in the list.
TEST_F(KeyboardTest, ListsOpenOnTheRowOfTheCurrentValue) {
    db_->Sql() << "UPDATE PARAMFORNE SET QTREPETEPRODNF = 2, CDPRODCONSREPE = '03;04' "
                  "WHERE CDFORNECED = '000001'";
    const auto retype = [this](TCustomEdit* e, const char* text) {
        UserInput::ClearText(e);
        UserInput::TypeText(e, text);
    };
    struct Case {
        const char* button;
        std::function<void()> before;
        int current;
        String cell; // the first column of that row
    };
    const std::vector<Case> cases = {
        {"btpFornecedor", [this] { Focus("medNrInsJurNF"); }, 3, "11.222.333/0001-81"},
        {"btpFornecedor", [&] { retype(Form()->medNrInsJurNF, "52998224725"); }, 1,
         "529.982.247-25"},
        {"btpFornecedor", [&] { retype(Form()->medNrInsJurNF, "99999999999"); }, 0,
         "123.456.789-09"},
        {"btnPesqGrupo", [this] { Load("11222333000181"); }, 1, "02"},
        {"btpProdSerConsidera", [] {}, 2, "03"},
        {"btnPesqGrupo", [this] { UserInput::ClearText(Form()->dbeCdGrupoPermLan); }, 0, "01"},
        {"btnPesqGrupo", [&] { retype(Form()->dbeCdGrupoPermLan, "04"); }, 3, "04"},
    };
    ASSERT_TRUE(Load("11222333000181"));
    for (const Case& c : cases) {
        SCOPED_TRACE(String(c.button) + " " + c.cell);
        c.before();
        Dialogs();
        dialogs_.lists.clear();
        dialogs_.picks.push_back(PickCancel());
        ASSERT_TRUE(Click(c.button));
        ASSERT_EQ(dialogs_.lists.size(), 1u);
        const auto& l = dialogs_.lists[0];
        EXPECT_EQ(l.current, c.current);
        ASSERT_LT(c.current, static_cast<int>(l.rows.size()));
        EXPECT_EQ(l.rows[static_cast<size_t>(c.current)][0], c.cell);
    }
}

// A reload that fails with the server down (after Esc → "Sim") leaves the supplier shown as the
// record is: its inscription under its mask and its name, as before the edit.
TEST_F(KeyboardTest, AFailedReloadKeepsTheSuppliersInscriptionAndName) {
    ASSERT_TRUE(Load("11222333000181"));
    const String mask = Form()->medNrInsJurNF->EditMask();
    ASSERT_FALSE(mask.empty());
    ASSERT_EQ(Form()->edtNmRasSocForn->Text(), "Distribuidora Alfa Ltda");
    ASSERT_TRUE(Click("dckSimples"));
    StopServer();
    dialogs_.answers.push_back("yes");
    EXPECT_FALSE(Key("dckSimples", 27));
    auto shown = Dialogs();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].substr(0, 6), "error:");
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
    EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
    EXPECT_EQ(Field("IDSIMPLESNACIONAL")->AsString(), "S");
    EXPECT_EQ(Form()->medNrInsJurNF->EditMask(), mask);
    EXPECT_EQ(Form()->medNrInsJurNF->EditText(), "11.222.333/0001-81");
    EXPECT_EQ(Form()->edtNmRasSocForn->Text(), "Distribuidora Alfa Ltda");
    EXPECT_EQ(Form()->lblIdForne->Caption(), "Homologado");
}

} // namespace
