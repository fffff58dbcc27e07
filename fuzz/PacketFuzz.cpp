// The client's side of an answer: the JSON-RPC result as the connection decodes it, the first
// check of every answer, a packet loaded into a client data set, then an edit and its delta.
#include "FuzzTarget.h"

#include "Consiste.h"
#include "db/DBClient.h"
#include "rtl/Variant.h"
#include "vcl/Forms.h"

#include <memory>

namespace {

struct Record {
    std::unique_ptr<TForm> root = std::make_unique<TForm>(nullptr);
    TClientDataSet* cds = new TClientDataSet(root.get());
    TStringField* code = new TStringField(root.get());
    TFloatField* days = new TFloatField(root.get());
    TStringField* flag = new TStringField(root.get());
    TDateTimeField* date = new TDateTimeField(root.get());

    Record() {
        auto field = [&](TField* f, const char* name, int size) {
            f->SetFieldName(name);
            if (size) f->SetSize(size);
            f->SetDataSet(cds);
        };
        field(code, "CDFORNECED", 21);
        field(days, "NRDIASBLOQNFFOR", 0);
        field(flag, "IDSIMPLESNACIONAL", 1);
        field(date, "DTREACONSIMPXML", 0);
    }
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
