#include <cmath>
#include <gtest/gtest.h>

#include "DbTestSupport.h"
#include "vcl/FormReader.h"

using nlohmann::json;

namespace {

// A control's binding as the data-aware controls use it: a pending value written on update.
struct PendingLink : TFieldDataLink {
    String pending;
    Trace* trace = nullptr;
    PendingLink() {
        OnUpdateData = [this] {
            trace->Add("UpdateData");
            Field()->SetAsString(pending);
        };
    }
};

TEST(DataSetStates, EditRunsItsEventsInOrderOnlyFromBrowse) {
    ParamRecord r;
    EXPECT_THROW(r.cds->Edit(), EDatabaseError); // closed
    r.Load();
    r.cds->Edit();
    EXPECT_EQ(r.trace.Take(), "BeforeEdit;StateChange:edit;AfterEdit");
    EXPECT_EQ(r.cds->State(), dsEdit);
    EXPECT_EQ(r.dts->State(), dsEdit);
    r.cds->Edit();
    EXPECT_EQ(r.trace.Take(), "");
}

TEST(DataSetStates, PostUpdatesFromTheLinksBeforeTheBeforePostEvent) {
    ParamRecord r;
    r.Load();
    PendingLink link;
    link.trace = &r.trace;
    link.SetDataSource(r.dts);
    link.SetFieldName("IDSIMPLESNACIONAL");
    r.cds->Edit();
    r.trace.Take();
    link.pending = "S";
    link.Modified();
    r.cds->BeforePost = [&](TDataSet*) { r.trace.Add("BeforePost:" + r.simples->AsString()); };
    r.cds->Post();
    EXPECT_EQ(r.trace.Take(), "UpdateData;BeforePost:S;StateChange:browse;AfterPost");
    EXPECT_EQ(r.simples->AsString(), "S");
    EXPECT_EQ(r.cds->ChangeCount(), 1);
    EXPECT_THROW(r.cds->Post(), EDatabaseError); // not editing any more
}

TEST(DataSetStates, FailingBeforePostLeavesTheRecordInEditWithItsValues) {
    ParamRecord r;
    r.Load();
    r.cds->Edit();
    r.days->SetAsString("45");
    r.cds->BeforePost = [&](TDataSet*) {
        r.trace.Add("BeforePost");
        throw EDatabaseError("recusado");
    };
    r.trace.Take();
    EXPECT_THROW(r.cds->Post(), EDatabaseError);
    EXPECT_EQ(r.trace.Take(), "BeforePost");
    EXPECT_EQ(r.cds->State(), dsEdit);
    EXPECT_EQ(r.days->AsFloat(), 45);
    EXPECT_EQ(r.cds->ChangeCount(), 0);

    r.cds->BeforePost = nullptr;
    r.cds->Post();
    EXPECT_EQ(r.trace.Take(), "StateChange:browse;AfterPost");
    EXPECT_EQ(r.days->AsFloat(), 45);
    EXPECT_EQ(r.cds->ChangeCount(), 1);
}

TEST(DataSetStates, CancelDiscardsTheBufferAndIsIgnoredOutsideEdit) {
    ParamRecord r;
    r.Load();
    r.cds->Cancel();
    EXPECT_EQ(r.trace.Take(), "");
    r.cds->Edit();
    r.simples->SetAsString("S");
    r.trace.Take();
    r.cds->Cancel();
    EXPECT_EQ(r.trace.Take(), "BeforeCancel;StateChange:browse;AfterCancel");
    EXPECT_EQ(r.simples->AsString(), "N");
    EXPECT_EQ(r.cds->ChangeCount(), 0);
}

TEST(DataSetStates, SetDataShowsTheLinksInactiveThenBrowse) {
    ParamRecord r;
    r.Load();
    r.cds->Edit();
    r.trace.Take();
    r.cds->SetData(ParamRecord::Packet());
    EXPECT_EQ(r.trace.Take(), "StateChange:inactive;StateChange:browse");
    EXPECT_EQ(r.cds->ChangeCount(), 0);
    EXPECT_EQ(r.cds->RecordCount(), 1);
}

TEST(ChangeLog, CancelUpdatesRestoresTheLoadedRow) {
    ParamRecord r;
    r.Load();
    for (const char* days : {"10", "20"}) {
        r.cds->Edit();
        r.days->SetAsString(days);
        r.cds->Post();
    }
    EXPECT_EQ(r.cds->ChangeCount(), 2);
    EXPECT_EQ(r.days->OldValue().AsDouble(), 30);
    EXPECT_EQ(r.days->NewValue().AsDouble(), 20);
    r.trace.Take();
    r.cds->CancelUpdates();
    EXPECT_EQ(r.trace.Take(), "");
    EXPECT_EQ(r.cds->ChangeCount(), 0);
    EXPECT_EQ(r.days->AsFloat(), 30);
    EXPECT_TRUE(r.cds->Delta().AsJson()["changes"].empty());
}

TEST(ChangeLog, CancelUpdatesInEditDropsTheBufferWithoutCancelEvents) {
    ParamRecord r;
    r.Load();
    r.cds->Edit();
    r.simples->SetAsString("S");
    r.cds->Post();
    r.cds->Edit();
    r.days->SetAsString("99");
    r.trace.Take();
    r.cds->CancelUpdates();
    EXPECT_EQ(r.trace.Take(), "StateChange:browse");
    EXPECT_EQ(r.cds->State(), dsBrowse);
    EXPECT_EQ(r.days->AsFloat(), 30);
    EXPECT_EQ(r.simples->AsString(), "N");
}

TEST(ChangeLog, MergeMakesThePostedValuesTheOriginals) {
    ParamRecord r;
    r.Load();
    r.cds->Edit();
    r.simples->SetAsString("S");
    r.cds->Post();
    r.cds->MergeChangeLog();
    EXPECT_EQ(r.cds->ChangeCount(), 0);
    EXPECT_EQ(r.simples->OldValue().AsString(), "S");
    EXPECT_TRUE(r.cds->Delta().AsJson()["changes"].empty());
    r.cds->CancelUpdates(); // nothing left to undo
    EXPECT_EQ(r.simples->AsString(), "S");

    // In edit, a merge keeps the pending edit and moves the originals under it.
    r.cds->Edit();
    r.simples->SetAsString("N");
    EXPECT_EQ(r.simples->OldValue().AsString(), "S");
    EXPECT_EQ(r.simples->NewValue().AsString(), "N");
    r.cds->MergeChangeLog();
    EXPECT_EQ(r.cds->State(), dsEdit);
    EXPECT_EQ(r.simples->AsString(), "N");
}

TEST(ChangeLog, DeltaCarriesTheOriginalRowAndOnlyTheChangedFields) {
    ParamRecord r;
    r.Load();
    r.cds->Edit();
    r.simples->SetAsString("S");
    r.date->SetAsString("08/12/2026");
    r.cds->Post();
    json delta = r.cds->Delta().AsJson();
    EXPECT_EQ(delta["fields"], ParamRecord::Fields());
    ASSERT_EQ(delta["changes"].size(), 1u);
    const json& c = delta["changes"][0];
    EXPECT_EQ(c["op"], "update");
    EXPECT_EQ(c["old"], ParamRecord::Row());
    EXPECT_EQ(c["new"], json({{"IDSIMPLESNACIONAL", "S"}, {"DTREACONSIMPXML", "2026-12-08"}}));

    // Later posts merge into the same change; a field back at its original value leaves it.
    r.cds->Edit();
    r.simples->SetAsString("N");
    r.maxValue->SetAsFloat(0.1);
    r.days->Clear();
    r.cds->Post();
    EXPECT_EQ(r.cds->ChangeCount(), 2);
    delta = r.cds->Delta().AsJson();
    ASSERT_EQ(delta["changes"].size(), 1u);
    EXPECT_EQ(delta["changes"][0]["old"], ParamRecord::Row());
    EXPECT_EQ(delta["changes"][0]["new"], json({{"DTREACONSIMPXML", "2026-12-08"},
                                                {"VRMAXPERMFORN", 0.1},
                                                {"NRDIASBLOQNFFOR", nullptr}}));
}

TEST(ChangeLog, ARowBackToItsOriginalValuesHasNoChange) {
    ParamRecord r;
    r.Load();
    for (const char* flag : {"S", "N"}) {
        r.cds->Edit();
        r.simples->SetAsString(flag);
        r.cds->Post();
    }
    EXPECT_EQ(r.cds->ChangeCount(), 2);
    EXPECT_TRUE(r.cds->Delta().AsJson()["changes"].empty());
}

TEST(ChangeLog, DataRoundTripsThePostedRow) {
    ParamRecord r;
    r.Load();
    r.cds->Edit();
    r.date->SetAsString("08/12/2026 14:05");
    r.cds->Post();
    json data = r.cds->Data().AsJson();
    EXPECT_EQ(data["rows"][0][4], "2026-12-08T14:05:00");
    ParamRecord copy;
    copy.cds->SetData(r.cds->Data());
    EXPECT_EQ(copy.date->AsDateTime().Val, r.date->AsDateTime().Val);
    EXPECT_EQ(copy.maxValue->AsFloat(), 1234.5);
}

TEST(Packets, ThatDoNotFitTheFieldsAreRefusedAndChangeNothing) {
    auto withField = [](size_t i, json f) {
        json fields = ParamRecord::Fields();
        fields[i] = std::move(f);
        return fields;
    };
    json swapped = ParamRecord::Fields();
    std::swap(swapped[0], swapped[2]);
    json missing = ParamRecord::Fields();
    missing.erase(4);
    const std::vector<std::pair<const char*, json>> bad = {
        {"renamed",
         {{"fields", withField(1, {{"name", "NRDIAS"}, {"type", "float"}})},
          {"rows", json::array()}}},
        {"reordered", {{"fields", swapped}, {"rows", json::array()}}},
        {"missing field", {{"fields", missing}, {"rows", json::array()}}},
        {"other kind",
         {{"fields", withField(1, {{"name", "NRDIASBLOQNFFOR"}, {"type", "string"}, {"size", 3}})},
          {"rows", json::array()}}},
        {"other size",
         {{"fields", withField(0, {{"name", "CDFORNECED"}, {"type", "string"}, {"size", 20}})},
          {"rows", json::array()}}},
        {"short row", {{"fields", ParamRecord::Fields()}, {"rows", {{"000002", 1, "N", 1}}}}},
        {"text in number",
         {{"fields", ParamRecord::Fields()}, {"rows", {{"000002", "30", "N", 1, nullptr}}}}},
        {"oversize text",
         {{"fields", ParamRecord::Fields()}, {"rows", {{"000002", 30, "SN", 1, nullptr}}}}},
        {"bad date",
         {{"fields", ParamRecord::Fields()}, {"rows", {{"000002", 30, "N", 1, "2026-02-30"}}}}},
        {"no rows", {{"fields", ParamRecord::Fields()}}},
    };
    ParamRecord r;
    r.Load();
    r.cds->Edit();
    r.simples->SetAsString("S");
    r.cds->Post();
    r.trace.Take();
    for (const auto& [what, packet] : bad) {
        EXPECT_THROW(r.cds->SetData(Variant::Json(packet)), EDatabaseError) << what;
        EXPECT_EQ(r.trace.Take(), "") << what;
        EXPECT_EQ(r.cds->State(), dsBrowse) << what;
        EXPECT_EQ(r.cds->ChangeCount(), 1) << what;
        EXPECT_EQ(r.code->AsString(), "000001") << what;
    }
    try {
        r.cds->SetData(Variant::Json(bad[0].second));
    } catch (const EDatabaseError& e) {
        EXPECT_NE(e.Message().find("NRDIASBLOQNFFOR"), String::npos) << e.Message();
        EXPECT_NE(e.Message().find("NRDIAS "), String::npos) << e.Message();
    }
}

TEST(FieldValues, EmptyTextIsNullAndNullReadsEmpty) {
    ParamRecord r;
    r.Load();
    EXPECT_TRUE(r.date->IsNull());
    EXPECT_EQ(r.date->AsString(), "");
    EXPECT_EQ(r.date->DisplayText(), "");
    r.cds->Edit();
    r.days->SetAsString("  ");
    r.maxValue->SetAsString("");
    EXPECT_TRUE(r.days->IsNull());
    EXPECT_TRUE(r.maxValue->IsNull());
    EXPECT_EQ(r.maxValue->DisplayText(), "");
    EXPECT_EQ(r.days->Text(), "");
}

TEST(FieldValues, TextThatDoesNotConvertRaisesAndKeepsTheValue) {
    ParamRecord r;
    r.Load();
    r.cds->Edit();
    for (const char* text : {"12a", "1.234,5", "e", "1e999"}) {
        try {
            r.maxValue->SetAsString(text);
            ADD_FAILURE() << text;
        } catch (const EConvertError& e) {
            EXPECT_NE(e.Message().find(String("'") + text + "'"), String::npos) << e.Message();
        }
        EXPECT_EQ(r.maxValue->AsFloat(), 1234.5) << text;
    }
    EXPECT_THROW(r.date->SetAsString("31/02/2026"), EConvertError);
    EXPECT_TRUE(r.date->IsNull());
    EXPECT_THROW(r.days->SetAsFloat(std::nan("")), EConvertError);
    EXPECT_EQ(r.days->AsFloat(), 30);
    EXPECT_FALSE(r.cds->Modified());

    // Messages name the field by its label, never by its column.
    r.maxValue->SetDisplayLabel("Valor Máximo Permitido");
    try {
        r.maxValue->SetAsString("x");
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'x' não é um número válido para o campo Valor Máximo Permitido.");
    }
}

TEST(FieldValues, OversizeTextIsRefusedNeverCut) {
    ParamRecord r;
    r.Load();
    r.cds->Edit();
    try {
        r.simples->SetAsString("SN");
        ADD_FAILURE();
    } catch (const EDatabaseError& e) {
        EXPECT_NE(e.Message().find("IDSIMPLESNACIONAL"), String::npos) << e.Message();
    }
    EXPECT_EQ(r.simples->AsString(), "N");
    // Sizes count characters: accented letters take two bytes and one place.
    r.simples->SetAsString("Ç");
    EXPECT_EQ(r.simples->AsString(), "Ç");
    String code = "ÁÉÍÓÚáéíóúçÇãõâêô0123"; // 21 characters
    r.code->SetAsString(code);
    EXPECT_EQ(r.code->AsString(), code);
    EXPECT_THROW(r.code->SetAsString(code + "4"), EDatabaseError);
}

TEST(FieldValues, WritingOutsideEditIsRefused) {
    ParamRecord r;
    EXPECT_THROW(r.days->SetAsFloat(1), EDatabaseError); // closed
    r.Load();
    try {
        r.days->SetAsFloat(1);
        ADD_FAILURE();
    } catch (const EDatabaseError& e) {
        EXPECT_NE(e.Message().find("não está em modo de edição"), String::npos) << e.Message();
    }
    EXPECT_EQ(r.days->AsFloat(), 30);
}

TEST(FieldValues, TextFormsAndGetText) {
    ParamRecord r;
    r.Load();
    EXPECT_EQ(r.maxValue->DisplayText(), "1.234,50");
    EXPECT_EQ(r.maxValue->Text(), "1234,5");
    EXPECT_EQ(r.maxValue->AsInteger(), 1234);
    r.code->OnGetText = [](TField* f, String& text, bool display) {
        text = (display ? "D:" : "E:") + f->AsString();
    };
    EXPECT_EQ(r.code->DisplayText(), "D:000001");
    EXPECT_EQ(r.code->Text(), "E:000001");
    EXPECT_EQ(r.code->AsString(), "000001");
    EXPECT_TRUE(r.maxValue->IsValidChar(U','));
    EXPECT_TRUE(r.maxValue->IsValidChar(U'e'));
    EXPECT_FALSE(r.maxValue->IsValidChar(U'a'));
    EXPECT_FALSE(r.maxValue->IsValidChar(U'.'));
    EXPECT_TRUE(r.code->IsValidChar(U'ç'));
}

TEST(FieldValues, EveryWriteNotifiesTheDataSource) {
    ParamRecord r;
    r.Load();
    r.dts->OnDataChange = [&](TObject*, TField* f) {
        r.trace.Add(f ? "Data:" + f->FieldName() : String("Data"));
    };
    r.cds->Edit();
    r.simples->SetAsString("N"); // the same value still notifies
    r.days->Clear();
    EXPECT_EQ(r.trace.Take(), "BeforeEdit;StateChange:edit;Data;AfterEdit;Data:IDSIMPLESNACIONAL;"
                              "Data:NRDIASBLOQNFFOR");
}

TEST(Navigation, FirstNextAndEofOverSeveralRows) {
    ParamRecord r;
    r.cds->SetData(ParamRecord::Packet(
        {{"1", 1, "N", 1, nullptr}, {"2", 2, "S", 2, nullptr}, {"3", 3, "N", 3, nullptr}}));
    String seen;
    for (r.cds->First(); !r.cds->Eof(); r.cds->Next())
        seen += r.code->AsString();
    EXPECT_EQ(seen, "123");
    EXPECT_EQ(r.cds->RecNo(), 3);
    r.cds->SetRecNo(2);
    EXPECT_EQ(r.code->AsString(), "2");
    EXPECT_EQ(r.cds->RecordCount(), 3);
    EXPECT_THROW(r.cds->SetRecNo(4), EDatabaseError);

    r.cds->SetData(ParamRecord::Packet(json::array()));
    EXPECT_TRUE(r.cds->IsEmpty());
    EXPECT_TRUE(r.cds->Eof() && r.cds->Bof());
    EXPECT_THROW(r.cds->Edit(), EDatabaseError);
    EXPECT_TRUE(r.code->IsNull());
}

TEST(Navigation, FieldByNameIgnoresCaseAndNamesWhatIsMissing) {
    ParamRecord r;
    EXPECT_EQ(r.cds->FieldByName("cdforneced"), r.code);
    EXPECT_EQ(r.cds->FindField("NOPE"), nullptr);
    try {
        r.cds->FieldByName("NOPE");
        ADD_FAILURE();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Campo 'NOPE' não encontrado.");
    }
    EXPECT_EQ(r.date->Index(), 4);
    EXPECT_EQ(r.code->DisplayLabel(), "CDFORNECED");
}

// ---------------------------------------------------------------------------------------------

struct RecordModule : TDataModule {
    Trace trace;
    explicit RecordModule(TComponent* owner) : TDataModule(owner) {
        Publish("cdsAfterEdit", &RecordModule::AfterEdit);
        Publish("dtsStateChange", &RecordModule::StateChange);
        Publish("codeGetText", &RecordModule::CodeGetText);
    }
    String ClassName() const override { return "TRecordModule"; }
    void AfterEdit(TDataSet*) { trace.Add("AfterEdit"); }
    void StateChange(TObject*) { trace.Add("StateChange"); }
    void CodeGetText(TField*, String& text, bool) { text = "código"; }
};

TEST(Definitions, FieldsInsideADataSetBelongToIt) {
    RecordModule m(nullptr);
    TFormReader(&m).Read(R"(object dtmRecord: TRecordModule
  object cdsRecord: TClientDataSet
    AfterEdit = cdsAfterEdit
    object cdsRecordCODE: TStringField
      FieldName = 'CODE'
      DisplayLabel = 'Código'
      Size = 6
      OnGetText = codeGetText
    end
    object cdsRecordVALUE: TFloatField
      FieldName = 'VALUE'
      DisplayFormat = '#,##0.00'
      Visible = False
    end
  end
  object dtsRecord: TDataSource
    DataSet = cdsRecord
    AutoEdit = False
    OnStateChange = dtsStateChange
  end
end
)");
    auto* cds = FindOwned<TClientDataSet>(&m, "cdsRecord");
    auto* dts = FindOwned<TDataSource>(&m, "dtsRecord");
    ASSERT_TRUE(cds && dts);
    EXPECT_EQ(dts->DataSet(), cds);
    EXPECT_FALSE(dts->AutoEdit());
    ASSERT_EQ(cds->FieldCount(), 2);
    TField* code = cds->Fields()[0];
    EXPECT_EQ(code->FieldName(), "CODE");
    EXPECT_EQ(code->DisplayLabel(), "Código");
    EXPECT_EQ(code->Size(), 6);
    EXPECT_FALSE(cds->Fields()[1]->Visible());

    cds->SetData(Variant::Json(json::parse(
        R"({"fields":[{"name":"CODE","type":"string","size":6},{"name":"VALUE","type":"float"}],
            "rows":[["A1",2.5]]})")));
    EXPECT_EQ(code->DisplayText(), "código");
    EXPECT_EQ(cds->Fields()[1]->DisplayText(), "2,50");
    cds->Edit();
    EXPECT_EQ(m.trace.Take(), "StateChange;StateChange;AfterEdit");
}

TEST(Definitions, UnknownFieldPropertiesAndTargetsAreReported) {
    const char* bad[] = {
        R"(object dtmRecord: TRecordModule
  object cdsRecord: TClientDataSet
    object cdsRecordCODE: TStringField
      Mask = 'x'
    end
  end
end
)",
        R"(object dtmRecord: TRecordModule
  object dtsRecord: TDataSource
    DataSet = dtmRecord
  end
end
)",
        R"(object dtmRecord: TRecordModule
  object dtsRecord: TDataSource
  end
  object cdsRecordCODE: TStringField
  end
end
)"};
    for (const char* text : bad) {
        RecordModule m(nullptr);
        EXPECT_THROW(TFormReader(&m).Read(text), EDfmError) << text;
    }
}

} // namespace
