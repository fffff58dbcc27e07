#include <gtest/gtest.h>

#include "DbTestSupport.h"
#include "db/DBCtrls.h"
#include "vcl/Dialogs.h"
#include "vcl/FormReader.h"
#include "vcl/Input.h"

namespace {

struct Screen : ParamRecord {
    TForm* form = root.get();
    TDBEdit* dbeValue = Bind(new TDBEdit(form), "VRMAXPERMFORN");
    TDBEdit* dbeDays = Bind(new TDBEdit(form), "NRDIASBLOQNFFOR");
    TDBCheckBox* dckSimples = Bind(new TDBCheckBox(form), "IDSIMPLESNACIONAL");
    TEdit* other = new TEdit(form);

    Screen() {
        other->SetParent(form);
        form->Show();
        form->FocusControl(other); // showing focused the first control
        dckSimples->OnClick = [this](TObject*) {
            trace.Add(String("Click:") + DataSetStateName(cds->State()));
        };
    }
    template <class C> C* Bind(C* c, const char* field) {
        c->SetParent(form);
        c->SetDataSource(dts);
        c->SetDataField(field);
        return c;
    }
};

TEST(DBEdit, ShowsTheDisplayFormUnfocusedAndTheEditFormFocused) {
    Screen s;
    s.Load();
    EXPECT_EQ(s.dbeValue->DisplayText(), "1.234,50");
    ASSERT_TRUE(UserInput::Focus(s.dbeValue));
    EXPECT_EQ(s.dbeValue->DisplayText(), "1234,5");
    ASSERT_TRUE(UserInput::Focus(s.other));
    EXPECT_EQ(s.dbeValue->DisplayText(), "1.234,50");
    EXPECT_EQ(s.trace.Take(), ""); // looking starts no edit
}

TEST(DBEdit, TypingStartsTheEditAndExitWritesBeforeOnExit) {
    Screen s;
    s.Load();
    s.dbeValue->OnExit = [&](TObject*) { s.trace.Add("Exit:" + s.maxValue->AsString()); };
    ASSERT_TRUE(UserInput::TypeText(s.dbeValue, "7"));
    EXPECT_EQ(s.trace.Take(), "BeforeEdit;StateChange:edit;AfterEdit");
    EXPECT_EQ(s.maxValue->AsFloat(), 1234.5); // not yet
    ASSERT_TRUE(UserInput::Focus(s.other));
    EXPECT_EQ(s.trace.Take(), "Exit:1234,57");
    EXPECT_EQ(s.dbeValue->DisplayText(), "1.234,57");
}

TEST(DBEdit, PostTakesThePendingTextOfTheFocusedEdit) {
    Screen s;
    s.Load();
    ASSERT_TRUE(UserInput::ClearText(s.dbeDays));
    ASSERT_TRUE(UserInput::TypeText(s.dbeDays, "15"));
    s.cds->Post();
    EXPECT_EQ(s.dbeDays->Focused(), true);
    EXPECT_EQ(s.dbeDays->DisplayText(), "15");
    EXPECT_EQ(s.cds->ChangeCount(), 1);
    EXPECT_EQ(s.cds->Delta().AsJson()["changes"][0]["new"],
              nlohmann::json({{"NRDIASBLOQNFFOR", 15}}));
}

TEST(DBEdit, KeysTheFieldRefusesAreDroppedAfterOnKeyPress) {
    Screen s;
    s.Load();
    s.dbeValue->OnKeyPress = [&](TObject*, Char& key) {
        s.trace.Add("Key:" + std::to_string(static_cast<int>(key)));
    };
    ASSERT_TRUE(UserInput::TypeText(s.dbeValue, "a."));
    EXPECT_EQ(s.trace.Take(), "Key:97;Key:46");
    EXPECT_EQ(s.dbeValue->DisplayText(), "1234,5");
    EXPECT_EQ(s.cds->State(), dsBrowse); // a refused key starts nothing
}

TEST(DBEdit, EscDropsThePendingText) {
    Screen s;
    s.Load();
    ASSERT_TRUE(UserInput::TypeText(s.dbeValue, "99"));
    EXPECT_EQ(s.dbeValue->DisplayText(), "1234,599");
    s.dbeValue->OnKeyPress = [&](TObject*, Char& key) {
        s.trace.Add("Key:" + std::to_string(static_cast<int>(key)));
    };
    ASSERT_TRUE(UserInput::Key(s.dbeValue, 27));
    EXPECT_EQ(s.trace.Take(), "BeforeEdit;StateChange:edit;AfterEdit;Key:27");
    EXPECT_EQ(s.dbeValue->DisplayText(), "1234,5");
    ASSERT_TRUE(UserInput::Focus(s.other));
    EXPECT_EQ(s.maxValue->AsFloat(), 1234.5);
    EXPECT_FALSE(s.cds->Modified());
}

TEST(DBEdit, TextThatDoesNotConvertKeepsTheFocus) {
    Screen s;
    s.Load();
    auto* dialogs = new TScriptedDialogs;
    SetDialogService(dialogs);
    ASSERT_TRUE(UserInput::TypeText(s.dbeDays, "-+"));
    EXPECT_FALSE(UserInput::Focus(s.other));
    EXPECT_EQ(s.form->ActiveControl(), s.dbeDays);
    ASSERT_EQ(dialogs->dialogs.size(), 1u);
    EXPECT_NE(dialogs->dialogs[0].text.find("'30-+'"), String::npos) << dialogs->dialogs[0].text;
    EXPECT_EQ(s.dbeDays->SelLength(), 4);
    EXPECT_EQ(s.dbeDays->Text(), "30-+");
    EXPECT_EQ(s.days->AsFloat(), 30);
    SetDialogService(nullptr);
    delete dialogs;
}

TEST(DBEdit, TextSetByCodeInBrowseNeverReachesTheRecord) {
    Screen s;
    s.Load();
    ASSERT_TRUE(UserInput::Focus(s.dbeDays));
    s.dbeDays->SetText("77"); // no edit under way: leaving must not fail nor write
    ASSERT_TRUE(UserInput::Focus(s.other));
    EXPECT_EQ(s.days->AsFloat(), 30);
    EXPECT_EQ(s.dbeDays->DisplayText(), "30");
    EXPECT_EQ(s.cds->State(), dsBrowse);
}

TEST(DBEdit, MaxLengthComesFromTheStringSizeUnlessSet) {
    Screen s;
    TDBEdit* code = s.Bind(new TDBEdit(s.form), "CDFORNECED");
    TDBEdit* limited = s.Bind(new TDBEdit(s.form), "CDFORNECED");
    limited->SetMaxLength(5);
    s.Load();
    EXPECT_EQ(code->MaxLength(), 21);
    EXPECT_EQ(limited->MaxLength(), 5);
    EXPECT_EQ(s.dbeValue->MaxLength(), 0);
    EXPECT_EQ(code->DisplayText(), "000001");
}

TEST(DBEdit, ClosingTheDataSetEmptiesTheEdit) {
    Screen s;
    s.Load();
    s.cds->Close();
    EXPECT_EQ(s.dbeValue->DisplayText(), "");
    ASSERT_TRUE(UserInput::TypeText(s.dbeValue, "1"));
    EXPECT_EQ(s.dbeValue->DisplayText(), "");
    EXPECT_EQ(s.cds->State(), dsInactive);
}

// ---------------------------------------------------------------------------------------------

TEST(DBCheckBox, LoadingARecordSetsTheBoxAndRunsOnClick) {
    Screen s;
    nlohmann::json row = ParamRecord::Row();
    row[2] = "S";
    s.cds->SetData(ParamRecord::Packet({row}));
    EXPECT_TRUE(s.dckSimples->Checked());
    EXPECT_EQ(s.trace.Take(), "Click:browse;StateChange:browse");
    s.cds->SetData(ParamRecord::Packet());
    EXPECT_FALSE(s.dckSimples->Checked());
    // Closing unchecks (a click), and the new row keeps it unchecked.
    EXPECT_EQ(s.trace.Take(), "Click:inactive;StateChange:inactive;StateChange:browse");
}

TEST(DBCheckBox, AClickInBrowseStartsTheEditThenToggles) {
    Screen s;
    s.Load();
    ASSERT_TRUE(UserInput::Click(s.dckSimples));
    EXPECT_EQ(s.trace.Take(), "BeforeEdit;StateChange:edit;AfterEdit;Click:edit");
    EXPECT_TRUE(s.dckSimples->Checked());
    EXPECT_EQ(s.dckSimples->Field()->AsString(), "N"); // reaches the field on update
    s.cds->UpdateRecord();
    EXPECT_EQ(s.dckSimples->Field()->AsString(), "S");

    ASSERT_TRUE(UserInput::Click(s.dckSimples));
    s.cds->Post();
    EXPECT_EQ(s.dckSimples->Field()->AsString(), "N");
    EXPECT_EQ(s.trace.Take(), "Click:edit;BeforePost;StateChange:browse;AfterPost");
}

TEST(DBCheckBox, AClickHandlerMayWriteTheFieldItself) {
    Screen s;
    s.Load();
    s.dckSimples->OnClick = [&](TObject*) {
        if (s.cds->State() == dsEdit)
            s.dckSimples->Field()->SetAsString(s.dckSimples->Checked() ? "S" : "N");
    };
    ASSERT_TRUE(UserInput::Click(s.dckSimples));
    EXPECT_EQ(s.dckSimples->Field()->AsString(), "S");
    s.cds->Post();
    EXPECT_EQ(s.dckSimples->Field()->AsString(), "S");
    EXPECT_TRUE(s.dckSimples->Checked());
}

TEST(DBCheckBox, AClickOnAClosedDataSetDoesNothing) {
    Screen s;
    ASSERT_TRUE(UserInput::Click(s.dckSimples));
    EXPECT_FALSE(s.dckSimples->Checked());
    EXPECT_EQ(s.trace.Take(), "");
    // Nor does it without automatic edit, until the record is in edit.
    s.Load();
    s.dts->SetAutoEdit(false);
    ASSERT_TRUE(UserInput::Click(s.dckSimples));
    EXPECT_FALSE(s.dckSimples->Checked());
    s.cds->Edit();
    s.trace.Take();
    ASSERT_TRUE(UserInput::Click(s.dckSimples));
    EXPECT_EQ(s.trace.Take(), "Click:edit");
}

TEST(DBCheckBox, ValueListsFromTheDefinition) {
    ParamRecord r;
    r.root->SetName("frmTeste");
    r.dts->SetName("dtsParamForn");
    TFormReader(r.root.get()).Read(R"(object frmTeste: TForm
  object dckSimples: TDBCheckBox
    DataSource = dtsParamForn
    DataField = 'IDSIMPLESNACIONAL'
    ValueChecked = 'T;t'
    ValueUnchecked = 'F'
  end
  object dbeValor: TDBEdit
    DataSource = dtsParamForn
    DataField = 'VRMAXPERMFORN'
    MaxLength = 12
  end
end
)");
    auto* box = FindOwned<TDBCheckBox>(r.root.get(), "dckSimples");
    auto* edit = FindOwned<TDBEdit>(r.root.get(), "dbeValor");
    ASSERT_TRUE(box && edit);
    nlohmann::json row = ParamRecord::Row();
    row[2] = "t";
    r.cds->SetData(ParamRecord::Packet({row}));
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(edit->MaxLength(), 12);
    EXPECT_EQ(edit->DisplayText(), "1.234,50");
    for (const char* expected : {"F", "T"}) {
        box->UserClick();
        r.cds->Post();
        EXPECT_EQ(r.simples->AsString(), expected);
    }
}

} // namespace
