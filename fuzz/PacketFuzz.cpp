// The client's side of an answer: the JSON-RPC result as the connection decodes it, the first
// check of every answer, a packet loaded into a client data set, then an edit and its delta.
#include "FuzzTarget.h"

#include "Consiste.h"
#include "FieldedDataSet.h"
#include "rtl/Variant.h"

namespace {

struct Record : FieldedDataSet {
    TStringField* code = AddField<TStringField>("CDFORNECED", 21);
    TFloatField* days = AddField<TFloatField>("NRDIASBLOQNFFOR");
    TStringField* flag = AddField<TStringField>("IDSIMPLESNACIONAL", 1);
    TDateTimeField* date = AddField<TDateTimeField>("DTREACONSIMPXML");
};

} // namespace

KX_FUZZ_TARGET(Packet) {
    static Record record;
    try {
        const nlohmann::json answer = ParseJsonLimited(FuzzText(data, size));
        const Variant result = Variant::FromJson(answer);
        const Variant checked = Consiste::CheckResultServ(result, true, 0);
        if (!checked.IsArray() || checked.ArrayHighBound() < 1) return 0;
        record.cds->SetData(checked[1]);
        if (!record.cds->Active() || record.cds->IsEmpty()) return 0;
        (void)record.cds->Data();
        record.cds->Edit();
        record.flag->SetAsString(record.flag->AsString() == "S" ? "N" : "S");
        record.days->SetAsString("7");
        record.cds->Post();
        (void)record.cds->Delta().ToJson().dump();
        record.cds->MergeChangeLog();
    } catch (const Exception&) {
        if (record.cds->State() != dsBrowse && record.cds->Active()) record.cds->CancelUpdates();
    }
    return 0;
}
