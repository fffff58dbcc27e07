// The screen by keyboard: the focus handed on when its control switches off, the lists opening on
// the current value, and the supplier kept on screen when a reload fails.
#include "ScreenFixture.h"

namespace {

class KeyboardTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_TRUE(Open());
    }
    TWinControl* Active() const { return Form()->ActiveControl(); }
};

// The consistency date, closed by the reload after Esc → "Sim" or Ctrl+S while it has the caret,
// gives the focus to the repetition count, where the next key counts.
TEST_F(KeyboardTest, TheFocusMovesOnFromAControlSwitchedOffUnderIt) {
    for (const char* how : {"Esc", "Ctrl+S"}) {
        SCOPED_TRACE(how);
        ASSERT_TRUE(Load("45782163000101")); // no date stored: ticking opens the box
        ASSERT_TRUE(Click("dckReaConsImpXml"));
        ASSERT_TRUE(Focus("dbdDtReaConsImpXML"));
        dialogs_.answers = {"yes"};
        ASSERT_TRUE(how == String("Esc") ? UserInput::Key(Active(), 27)
                                         : UserInput::ShortCut(Form(), how));
        ASSERT_FALSE(Form()->dbdDtReaConsImpXML->Enabled());
        ASSERT_EQ(Active(), Form()->dbeQtRepeteProdNF);
        ASSERT_TRUE(UserInput::Key(Active(), U'3'));
        EXPECT_EQ(Form()->dbeQtRepeteProdNF->Text(), "3");
        ASSERT_TRUE(Tab());
        EXPECT_EQ(Active(), Form()->rbtTodosProdSerConsidera);
        dialogs_.answers = {"yes"};
        UserInput::Key(Active(), 27);
        Dialogs();
    }
}

// A list opens on the row of the value its box holds (group 02, the products chosen, a typed
// inscription), on the first row for a value it does not have.
TEST_F(KeyboardTest, ListsOpenOnTheRowOfTheCurrentValue) {
    db_->Sql() << "UPDATE PARAMFORNE SET QTREPETEPRODNF = 2, CDPRODCONSREPE = '03;04'";
    const auto type = [this](const char* box, const char* text) {
        return [=, this] {
            Clear(box);
            Type(box, text);
        };
    };
    struct Case {
        const char* button;
        std::function<void()> before;
        int current;
        String cell;
    } cases[] = {
        {"btpFornecedor", type("medNrInsJurNF", "52998224725"), 1, "529.982.247-25"},
        {"btpFornecedor", type("medNrInsJurNF", "99999999999"), 0, "123.456.789-09"},
        {"btnPesqGrupo", [this] { Load("11222333000181"); }, 1, "02"},
        {"btpProdSerConsidera", [] {}, 2, "03"},
        {"btnPesqGrupo", type("dbeCdGrupoPermLan", "04"), 3, "04"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cell);
        c.before();
        dialogs_.lists.clear();
        dialogs_.picks = {PickCancel()};
        ASSERT_TRUE(Click(c.button));
        ASSERT_EQ(dialogs_.lists.size(), 1u);
        EXPECT_EQ(dialogs_.lists[0].current, c.current);
        EXPECT_EQ(dialogs_.lists[0].rows.at(static_cast<size_t>(c.current)).at(0), c.cell);
    }
}

// A reload that fails with the server down (Esc → "Sim") leaves the supplier shown as the record
// still is: its inscription under its mask and its name.
TEST_F(KeyboardTest, AFailedReloadKeepsTheSuppliersInscriptionAndName) {
    ASSERT_TRUE(Load("11222333000181"));
    const String mask = Form()->medNrInsJurNF->EditMask();
    ASSERT_TRUE(Click("dckSimples"));
    StopServer();
    dialogs_.answers = {"yes"};
    EXPECT_FALSE(Key("dckSimples", 27));
    EXPECT_EQ(Dialogs().size(), 2u); // the question and the failure
    EXPECT_EQ(Field("IDSIMPLESNACIONAL")->AsString(), "S");
    EXPECT_EQ(Form()->medNrInsJurNF->EditMask(), mask);
    EXPECT_EQ(Form()->medNrInsJurNF->EditText(), "11.222.333/0001-81");
    EXPECT_EQ(Form()->edtNmRasSocForn->Text(), "Distribuidora Alfa Ltda");
}

} // namespace
