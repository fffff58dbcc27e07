// Behaviour of the component model as event traces: focus, keys, check boxes and radio buttons,
// masked edits, and the binding of form definitions.
#include <gtest/gtest.h>

#include "vcl/Dialogs.h"
#include "vcl/FormReader.h"
#include "vcl/Forms.h"
#include "vcl/Input.h"
#include "vcl/Mask.h"
#include "vcl/StdCtrls.h"

namespace {

// A form built from a definition, with handlers that write an event trace.
class TTraceForm : public TForm {
public:
    explicit TTraceForm(TComponent* owner) : TForm(owner) {
        Publish("Enter", &TTraceForm::Enter);
        Publish("Exit", &TTraceForm::Exit);
        Publish("Click", &TTraceForm::Click);
        Publish("Change", &TTraceForm::Change);
        Publish("KeyFilter", &TTraceForm::KeyFilter);
        Publish("FormKey", &TTraceForm::FormKey);
    }
    String ClassName() const override { return "TTraceForm"; }

    void Enter(TObject* s) { Log("Enter:" + Name(s)); }
    void Exit(TObject* s) {
        Log("Exit:" + Name(s));
        if (Name(s) == vetoByRaise) throw Exception("inválido");
        if (Name(s) == vetoByFocus) FindOwned<TWinControl>(this, refocus)->SetFocus();
    }
    void Click(TObject* s) { Log("Click:" + Name(s)); }
    void Change(TObject* s) { Log("Change:" + Name(s)); }
    void KeyFilter(TObject* s, Char& key) {
        Log("Key:" + Name(s));
        if (key == U'x') key = 0;
    }
    void FormKey(TObject*, Char& key) {
        Log("FormKey");
        if (key == U'#') key = 0;
        if (key == 27) Log("Esc");
    }

    static String Name(TObject* s) { return dynamic_cast<TComponent*>(s)->Name(); }
    void Log(const String& s) { trace += (trace.empty() ? "" : ";") + s; }
    String trace;
    String vetoByRaise, vetoByFocus, refocus;
};

const char* kForm = R"(object frmTrace: TTraceForm
  Left = 0
  Top = 0
  Caption = 'Teste'
  ClientWidth = 300
  ClientHeight = 200
  KeyPreview = True
  OnKeyPress = FormKey
  object grbA: TGroupBox
    Left = 0
    Top = 0
    Width = 100
    Height = 100
    Caption = 'A'
    TabOrder = 1
    OnEnter = Enter
    OnExit = Exit
    object edtA1: TEdit
      Left = 4
      Top = 4
      Width = 80
      Height = 21
      MaxLength = 5
      TabOrder = 0
      OnEnter = Enter
      OnExit = Exit
      OnChange = Change
      OnKeyPress = KeyFilter
    end
    object chkA2: TCheckBox
      Left = 4
      Top = 30
      Width = 80
      Height = 17
      Caption = 'Marcar'
      TabOrder = 1
      OnEnter = Enter
      OnExit = Exit
      OnClick = Click
    end
  end
  object grbB: TGroupBox
    Left = 0
    Top = 100
    Width = 100
    Height = 100
    Caption = 'B'
    TabOrder = 0
    OnEnter = Enter
    OnExit = Exit
    object rbtB1: TRadioButton
      Left = 4
      Top = 4
      Width = 60
      Height = 17
      Caption = 'Todos'
      Checked = True
      TabOrder = 0
      OnClick = Click
      OnEnter = Enter
      OnExit = Exit
    end
    object rbtB2: TRadioButton
      Left = 4
      Top = 24
      Width = 60
      Height = 17
      Caption = 'Lista'
      TabOrder = 1
      OnClick = Click
      OnEnter = Enter
      OnExit = Exit
    end
    object medB3: TMaskEdit
      Left = 4
      Top = 44
      Width = 90
      Height = 21
      TabOrder = 2
      OnEnter = Enter
      OnExit = Exit
      OnChange = Change
    end
  end
end
)";

class ComponentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetDialogService(&dialogs);
        form = new TTraceForm(Application);
        TFormReader(form).Read(kForm);
        form->Show();
        // The first showing focused the first control in tab order; start the cases unfocused.
        shownWith = form->ActiveControl() ? form->ActiveControl()->Name() : "";
        shownTrace = Take();
        form->FocusControl(nullptr);
        Take();
    }
    void TearDown() override {
        delete form;
        SetDialogService(nullptr);
    }
    template <class T> T* C(const char* name) { return FindOwned<T>(form, name); }
    String Take() {
        String t = form->trace;
        form->trace.clear();
        return t;
    }
    TScriptedDialogs dialogs;
    TTraceForm* form = nullptr;
    String shownWith, shownTrace;
};

TEST_F(ComponentsTest, FirstShowFocusesFirstControlInTabOrder) {
    EXPECT_EQ(shownWith, "rbtB1");
    EXPECT_EQ(shownTrace, "Enter:grbB;Enter:rbtB1");
    form->Show(); // showing again keeps the focus where it is
    EXPECT_EQ(form->ActiveControl(), nullptr);
}

TEST_F(ComponentsTest, FocusRunsExitChainToCommonParentThenEnterChain) {
    ASSERT_TRUE(UserInput::Focus(C<TEdit>("edtA1")));
    EXPECT_EQ(Take(), "Enter:grbA;Enter:edtA1");
    // Within the same box only the controls change.
    ASSERT_TRUE(UserInput::Focus(C<TCheckBox>("chkA2")));
    EXPECT_EQ(Take(), "Exit:edtA1;Enter:chkA2");
    // Across boxes: the old box is left after its control, the new one entered before its control.
    ASSERT_TRUE(UserInput::Focus(C<TMaskEdit>("medB3")));
    EXPECT_EQ(Take(), "Exit:chkA2;Exit:grbA;Enter:grbB;Enter:medB3");
    EXPECT_EQ(form->ActiveControl(), C<TMaskEdit>("medB3"));
}

TEST_F(ComponentsTest, ExitHandlerVetoesByRaisingOrByMovingFocus) {
    UserInput::Focus(C<TEdit>("edtA1"));
    Take();
    form->vetoByRaise = "edtA1";
    EXPECT_FALSE(UserInput::Focus(C<TMaskEdit>("medB3")));
    EXPECT_EQ(Take(), "Exit:edtA1");
    EXPECT_EQ(form->ActiveControl(), C<TEdit>("edtA1"));
    ASSERT_EQ(dialogs.dialogs.size(), 1u);
    EXPECT_EQ(dialogs.dialogs[0].kind, "error");
    EXPECT_EQ(dialogs.dialogs[0].text, "inválido");

    // Moving the focus elsewhere in the handler wins over the requested move, and the handler's
    // own exit is not run again.
    form->vetoByRaise.clear();
    form->vetoByFocus = "edtA1";
    form->refocus = "chkA2";
    EXPECT_TRUE(UserInput::Focus(C<TMaskEdit>("medB3")));
    EXPECT_EQ(Take(), "Exit:edtA1;Enter:chkA2");
    EXPECT_EQ(form->ActiveControl(), C<TCheckBox>("chkA2"));
}

TEST_F(ComponentsTest, FocusRefusedForDisabledControlOrOneInDisabledBox) {
    C<TGroupBox>("grbA")->SetEnabled(false);
    EXPECT_FALSE(C<TEdit>("edtA1")->CanFocus());
    EXPECT_FALSE(UserInput::Focus(C<TEdit>("edtA1")));
    EXPECT_EQ(form->ActiveControl(), nullptr);
    C<TGroupBox>("grbA")->SetEnabled(true);
    EXPECT_TRUE(C<TEdit>("edtA1")->CanFocus());
}

TEST_F(ComponentsTest, TabFollowsTabOrderOfBoxesNotReadingOrder) {
    // grbB has tab order 0; only the checked radio button is a tab stop.
    std::vector<String> seq;
    for (TWinControl* w : form->TabSequence())
        seq.push_back(w->Name());
    EXPECT_EQ(seq, (std::vector<String>{"rbtB1", "medB3", "edtA1", "chkA2"}));
    UserInput::Tab(form, false);
    EXPECT_EQ(form->ActiveControl()->Name(), "rbtB1");
    UserInput::Tab(form, true);
    EXPECT_EQ(form->ActiveControl()->Name(), "chkA2"); // wraps around
    C<TRadioButton>("rbtB2")->SetChecked(true);
    seq.clear();
    for (TWinControl* w : form->TabSequence())
        seq.push_back(w->Name());
    EXPECT_EQ(seq, (std::vector<String>{"rbtB2", "medB3", "edtA1", "chkA2"}));
}

TEST_F(ComponentsTest, KeysGoToFormPreviewThenControlFilterThenEdit) {
    auto* e = C<TEdit>("edtA1");
    UserInput::Focus(e);
    Take();
    UserInput::Key(e, U'a');
    EXPECT_EQ(Take(), "FormKey;Key:edtA1;Change:edtA1");
    UserInput::Key(e, U'x'); // refused by the control's filter
    EXPECT_EQ(Take(), "FormKey;Key:edtA1");
    UserInput::Key(e, U'#'); // refused by the form before the control sees it
    EXPECT_EQ(Take(), "FormKey");
    UserInput::Key(e, 27);
    EXPECT_EQ(Take(), "FormKey;Esc;Key:edtA1");
    EXPECT_EQ(e->Text(), "a");
    form->SetKeyPreview(false);
    UserInput::Key(e, U'#');
    EXPECT_EQ(Take(), "Key:edtA1;Change:edtA1");
    EXPECT_EQ(e->Text(), "a#");
}

TEST_F(ComponentsTest, EditHonoursMaxLengthSelectionAndBackspace) {
    auto* e = C<TEdit>("edtA1");
    UserInput::TypeText(e, "açãoxyz"); // 'x' is filtered; MaxLength 5 counts characters
    EXPECT_EQ(e->Text(), "açãoy");
    e->SetSelStart(1);
    e->SetSelLength(2);
    UserInput::Key(e, U'b');
    EXPECT_EQ(e->Text(), "aboy");
    UserInput::Key(e, 8);
    EXPECT_EQ(e->Text(), "aoy");
    Take();
    e->SetText("programa"); // the program may set more than the user may type
    EXPECT_EQ(Take(), "Change:edtA1");
    e->SetText("programa");
    EXPECT_EQ(Take(), ""); // no change, no event
    UserInput::ClearText(e);
    EXPECT_EQ(e->Text(), "");
}

// What the toolkit's edit does on its own (caret moves, Delete, paste) enters through the door too.
TEST_F(ComponentsTest, SelectDeleteAndPasteGoThroughTheEditsFilters) {
    auto* e = C<TEdit>("edtA1");
    UserInput::TypeText(e, "abcd");
    UserInput::Focus(C<TCheckBox>("chkA2"));
    Take();
    ASSERT_TRUE(UserInput::Select(e, 1, 2)); // focuses the edit first
    EXPECT_EQ(Take(), "Exit:chkA2;Enter:edtA1");
    EXPECT_EQ(e->SelStart(), 1);
    EXPECT_EQ(e->SelLength(), 2);
    UserInput::DeleteForward(e); // the selection
    EXPECT_EQ(e->Text(), "ad");
    UserInput::DeleteForward(e); // the character after the caret
    EXPECT_EQ(e->Text(), "a");
    UserInput::DeleteForward(e); // nothing after the caret
    EXPECT_EQ(e->Text(), "a");
    Take();
    // The form's preview, the edit's filter and the greatest length apply; tabs and line breaks
    // are dropped.
    UserInput::Paste(e, "x#\tb\r\nçdefg");
    EXPECT_EQ(e->Text(), "abçde");

    // Pasting stops where a key moves the focus away, and at a form a key released: the form is
    // freed after the last key, not under it.
    UserInput::ClearText(e);
    e->OnKeyPress = [&](TObject*, Char& key) {
        if (key == U'q') C<TCheckBox>("chkA2")->SetFocus();
        if (key == U'r') form->Release();
    };
    UserInput::Paste(e, "aqb");
    EXPECT_EQ(e->Text(), "aq");
    EXPECT_EQ(form->ActiveControl(), C<TCheckBox>("chkA2"));
    UserInput::ClearText(e);
    String textWhenFreed;
    form->OnDestroy = [&](TObject*) { textWhenFreed = e->Text(); };
    UserInput::Paste(e, "arb");
    form = nullptr; // freed by the paste's event
    EXPECT_EQ(textWhenFreed, "ar");
}

// Typing is one event too: a key that releases the form stops it, and the form is freed after the
// typing, never under it (the edit is asked about the focus after every key).
TEST_F(ComponentsTest, TypingStopsAtAReleasedFormWhichIsFreedAfterIt) {
    auto* e = C<TEdit>("edtA1");
    e->OnKeyPress = [&](TObject*, Char& key) {
        if (key == U'r') form->Release();
    };
    String textWhenFreed = "-";
    form->OnDestroy = [&](TObject*) { textWhenFreed = e->Text(); };
    EXPECT_FALSE(UserInput::TypeText(e, "arb"));
    form = nullptr; // freed by the typing's event
    EXPECT_EQ(textWhenFreed, "ar");
}

TEST_F(ComponentsTest, TabSelectsTheWholeTextAClickKeepsTheCaretAndAQueryMayRefuseClosing) {
    auto* e = C<TEdit>("edtA1");
    UserInput::TypeText(e, "30");
    UserInput::Focus(C<TCheckBox>("chkA2"));
    UserInput::Tab(form, true); // back into the edit from the keyboard
    ASSERT_EQ(form->ActiveControl(), e);
    EXPECT_EQ(e->SelLength(), 2);
    UserInput::Key(e, U'4');
    EXPECT_EQ(e->Text(), "4");
    UserInput::Focus(C<TCheckBox>("chkA2"));
    UserInput::Focus(e); // a click: typing goes where the caret is
    EXPECT_EQ(e->SelLength(), 0);
    e->SetAutoSelect(false);
    UserInput::Tab(form, true);
    UserInput::Tab(form, false);
    EXPECT_EQ(e->SelLength(), 0);

    bool allow = false;
    form->OnCloseQuery = [&](TObject*, bool& canClose) { canClose = allow; };
    form->OnClose = [&](TObject*, TCloseAction& a) {
        Take();
        a = caHide;
    };
    form->Show();
    form->Close();
    EXPECT_TRUE(form->Visible()) << "closed although the query refused";
    allow = true;
    form->Close();
    EXPECT_FALSE(form->Visible());
}

TEST_F(ComponentsTest, CheckBoxAndRadioRunOnClickAlsoWhenProgramChangesThem) {
    auto* chk = C<TCheckBox>("chkA2");
    chk->SetChecked(true);
    EXPECT_EQ(Take(), "Click:chkA2");
    chk->SetChecked(true);
    EXPECT_EQ(Take(), "");
    UserInput::Click(chk); // takes the focus first, then toggles
    EXPECT_EQ(Take(), "Enter:grbA;Enter:chkA2;Click:chkA2");
    EXPECT_FALSE(chk->Checked());

    auto* r1 = C<TRadioButton>("rbtB1");
    auto* r2 = C<TRadioButton>("rbtB2");
    EXPECT_TRUE(r1->Checked());
    r2->SetChecked(true);
    EXPECT_TRUE(r2->Checked());
    EXPECT_FALSE(r1->Checked());
    EXPECT_EQ(Take(), "Click:rbtB2"); // the sibling is cleared without a click of its own
    UserInput::Click(r2);             // already checked: focus only
    EXPECT_EQ(Take(), "Exit:chkA2;Exit:grbA;Enter:grbB;Enter:rbtB2");
    r2->OnClick = nullptr;
    r1->SetChecked(true);
    EXPECT_EQ(Take(), "Click:rbtB1");
}

TEST_F(ComponentsTest, DisabledControlsIgnoreClicks) {
    auto* chk = C<TCheckBox>("chkA2");
    C<TGroupBox>("grbA")->SetEnabled(false);
    UserInput::Click(chk);
    EXPECT_FALSE(chk->Checked());
    EXPECT_EQ(Take(), "");
}

TEST_F(ComponentsTest, MaskedEditKeepsValueAcrossMaskChanges) {
    auto* m = C<TMaskEdit>("medB3");
    UserInput::TypeText(m, "11.222.333/0001-81");
    EXPECT_EQ(m->Text(), "11.222.333/0001-81");
    m->SetEditMask(">AA.AAA.AAA/AAAA-99;0;_");
    EXPECT_EQ(m->EditText(), "11.222.333/0001-81");
    EXPECT_EQ(m->Text(), "11222333000181");
    m->SetEditMask("");
    EXPECT_EQ(m->Text(), "11222333000181");
    m->SetEditMask(">AA.AAA.AAA/AAAA-99;0;_");
    EXPECT_EQ(m->Text(), "11222333000181");

    m->SetEditMask("");
    m->SetText("12abc34501de35");
    m->SetEditMask(">AA.AAA.AAA/AAAA-99;0;_");
    EXPECT_EQ(m->EditText(), "12.ABC.345/01DE-35");
    EXPECT_EQ(m->Text(), "12ABC34501DE35");

    // Typing under a mask: literals typed at their place move past them; a letter in a digit
    // position is refused.
    m->SetEditMask("!99/99/9999;1;_");
    UserInput::ClearText(m);
    EXPECT_EQ(m->EditText(), "__/__/____");
    EXPECT_EQ(m->Text(), "");
    UserInput::TypeText(m, "08/12/2026");
    EXPECT_EQ(m->EditText(), "08/12/2026");
    UserInput::ClearText(m);
    UserInput::TypeText(m, "0a8");
    EXPECT_EQ(m->EditText(), "08/__/____");
}

TEST_F(ComponentsTest, CloseWithFreeReleasesAfterTheEvent) {
    form->OnClose = [](TObject*, TCloseAction& a) { a = caFree; };
    bool destroyed = false;
    form->OnDestroy = [&](TObject*) { destroyed = true; };
    TTraceForm* f = form;
    form = nullptr; // freed by the application now
    ASSERT_TRUE(RunEvent([&] {
        f->Close();
        EXPECT_FALSE(destroyed); // still alive while its own event runs
    }));
    EXPECT_TRUE(destroyed);
}

TEST_F(ComponentsTest, SilentAbortShowsNothingOtherErrorsShowTheirMessage) {
    EXPECT_FALSE(RunEvent([] { Abort(); }));
    EXPECT_TRUE(dialogs.dialogs.empty());
    EXPECT_FALSE(RunEvent([] { throw EConvertError("'x' não é um valor inteiro válido"); }));
    ASSERT_EQ(dialogs.dialogs.size(), 1u);
    EXPECT_EQ(dialogs.dialogs[0].text, "'x' não é um valor inteiro válido");
}

// ---------------------------------------------------------------------------------------------

class TEmptyForm : public TForm {
public:
    explicit TEmptyForm(TComponent* o) : TForm(o) { Publish("Click", &TEmptyForm::Click); }
    String ClassName() const override { return "TEmptyForm"; }
    void Click(TObject*) {}
    void Key(TObject*, Char&) {}
};

struct ReaderCase {
    const char* body;
    int line;
    const char* reason;
};

class ReaderErrors : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderErrors, NameLineAndReason) {
    const ReaderCase& c = GetParam();
    std::unique_ptr<TEmptyForm> f(new TEmptyForm(nullptr));
    String text = String("object frm: TEmptyForm\n") + c.body + "end\n";
    try {
        TFormReader(f.get()).Read(text);
        FAIL() << "no error for " << c.body;
    } catch (const EDfmError& e) {
        EXPECT_EQ(e.Line(), c.line) << e.Message();
        EXPECT_NE(e.Message().find(c.reason), String::npos) << e.Message();
    }
}

INSTANTIATE_TEST_SUITE_P(
    FormReader, ReaderErrors,
    ::testing::Values(
        ReaderCase{"  object x: TNoSuchClass\n  end\n", 2, "classe desconhecida TNoSuchClass"},
        ReaderCase{"  object e: TEdit\n    Colour = clRed\n  end\n", 3,
                   "propriedade desconhecida Colour"},
        ReaderCase{"  object e: TEdit\n    OnChange = NoHandler\n  end\n", 3, "NoHandler"},
        ReaderCase{"  object e: TEdit\n    OnKeyPress = Click\n  end\n", 3, "não tem a forma"},
        ReaderCase{"  object e: TEdit\n    MaxLength = 'dez'\n  end\n", 3,
                   "número inteiro esperado"},
        ReaderCase{"  object e: TEdit\n    Color = clNoColour\n  end\n", 3, "cor desconhecida"},
        ReaderCase{"  object l: TLabel\n    FocusControl = nada\n  end\n", 3, "nada"},
        ReaderCase{"  object e: TEdit\n  end\n  object e: TEdit\n  end\n", 4, "repetido"},
        ReaderCase{"  inherited e: TEdit\n  end\n", 2, "não existe"},
        ReaderCase{"  object l: TLabel\n    object e: TEdit\n    end\n  end\n", 3, "dentro"}));

TEST(FormReader, InheritedDefinitionChangesBaseComponentsAndAddsNewOnes) {
    std::unique_ptr<TEmptyForm> f(new TEmptyForm(nullptr));
    TFormReader(f.get()).Read(R"(object frm: TEmptyForm
  object pan: TPanel
    Caption = 'base'
    object btn: TSpeedButton
      Left = 1
    end
  end
end
)");
    TFormReader(f.get()).Read(R"(inherited frmX: TEmptyForm
  Caption = 'derivado'
  inherited pan: TPanel
    Caption = ''
    inherited btn: TSpeedButton
      Left = 2
      OnClick = Click
    end
    object lbl: TLabel
      Caption = 'novo'
    end
  end
end
)");
    EXPECT_EQ(f->Name(), "frmX");
    EXPECT_EQ(f->Caption(), "derivado");
    auto* btn = FindOwned<TSpeedButton>(f.get(), "btn");
    ASSERT_NE(btn, nullptr);
    EXPECT_EQ(btn->Left(), 2);
    EXPECT_TRUE(static_cast<bool>(btn->OnClick));
    auto* lbl = FindOwned<TLabel>(f.get(), "lbl");
    ASSERT_NE(lbl, nullptr);
    EXPECT_EQ(lbl->Parent(), FindOwned<TPanel>(f.get(), "pan"));
}

// A form that declares its components once; the reader points the fields at them.
class TWiredForm : public TForm {
public:
    explicit TWiredForm(TComponent* o) : TForm(o) {}
    String ClassName() const override { return "TWiredForm"; }
    TPanel* pan = Published(pan, "pan");
    TCustomEdit* edt = Published(edt, "edt");
};

TEST(FormReader, PublishedFieldsAreSetByNameCheckedAndClearedWhenTheirComponentGoes) {
    std::unique_ptr<TWiredForm> f(new TWiredForm(nullptr));
    TFormReader(f.get()).Read("object frm: TWiredForm\n"
                              "  object pan: TPanel\n"
                              "    object edt: TMaskEdit\n" // a subclass fits
                              "    end\n"
                              "  end\n"
                              "  object lbl: TLabel\n" // no field, no need of one
                              "  end\n"
                              "end\n");
    EXPECT_EQ(f->pan, FindOwned<TPanel>(f.get(), "pan"));
    ASSERT_EQ(f->edt, FindOwned<TMaskEdit>(f.get(), "edt"));
    ASSERT_NE(f->edt, nullptr);
    delete f->edt;
    EXPECT_EQ(f->edt, nullptr) << "a field must not outlive its component";

    const ReaderCase cases[] = {
        {"  object pan: TPanel\n  end\n  object edt: TLabel\n  end\n", 4,
         "o campo publicado edt de TWiredForm não aceita TLabel"},
        {"  object pan: TPanel\n  end\n", 1, "componente edt de TWiredForm ausente da definição"},
    };
    for (const ReaderCase& c : cases) {
        std::unique_ptr<TWiredForm> g(new TWiredForm(nullptr));
        try {
            TFormReader(g.get()).Read(String("object frm: TWiredForm\n") + c.body + "end\n");
            ADD_FAILURE() << "no error for " << c.body;
        } catch (const EDfmError& e) {
            EXPECT_EQ(e.Line(), c.line) << e.Message();
            EXPECT_NE(e.Message().find(c.reason), String::npos) << e.Message();
        }
    }
}

TEST(Components, OwnerFreesOwnedComponentsAndForgetsFreedOnes) {
    auto* owner = new TComponent(nullptr);
    auto* a = new TComponent(owner);
    a->SetName("a");
    auto* b = new TComponent(owner);
    b->SetName("b");
    EXPECT_EQ(owner->FindComponent("b"), b);
    EXPECT_THROW(b->SetName("a"), EComponentError);
    delete a;
    EXPECT_EQ(owner->FindComponent("a"), nullptr);
    EXPECT_EQ(owner->ComponentCount(), 1);
    delete owner; // frees b; a leak checker would report it otherwise
}

} // namespace
