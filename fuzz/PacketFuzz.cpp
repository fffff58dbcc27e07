// The client's side of an answer: the JSON-RPC result as the connection decodes it (the quick
// reader checked against the full parser), the first check of every answer, a packet loaded into
// a client data set, then an edit and its delta.
#include "FuzzTarget.h"

#include "Consiste.h"
#include "FieldedDataSet.h"
#include "rtl/JsonReader.h"
#include "rtl/Variant.h"

#include <cmath>

namespace {

struct Record : FieldedDataSet {
    TStringField* code = AddField<TStringField>("CDFORNECED", 21);
    TFloatField* days = AddField<TFloatField>("NRDIASBLOQNFFOR");
    TStringField* flag = AddField<TStringField>("IDSIMPLESNACIONAL", 1);
    TDateTimeField* date = AddField<TDateTimeField>("DTREACONSIMPXML");
};

// Equal values of the same kinds all the way down (30 unsigned is not 30 signed).
bool Same(const nlohmann::json& a, const nlohmann::json& b) {
    if (a.type() != b.type()) return false;
    if (a.is_array() || a.is_object()) {
        if (a.size() != b.size()) return false;
        for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
            if ((a.is_object() && i.key() != j.key()) || !Same(*i, *j)) return false;
        return true;
    }
    if (a.is_number_float())
        return a.get<double>() == b.get<double>() &&
               std::signbit(a.get<double>()) == std::signbit(b.get<double>());
    return a == b;
}

} // namespace

KX_FUZZ_TARGET(Packet) {
    static Record record;
    const std::string text = FuzzText(data, size);
    // What the quick reader takes, the full parser reads the same.
    if (nlohmann::json quick; ReadPlainJson(text, 64, quick)) {
        try {
            if (!Same(quick, nlohmann::json::parse(text))) __builtin_trap();
        } catch (const nlohmann::json::exception&) {
            __builtin_trap();
        }
    }
    try {
        const nlohmann::json answer = ParseJsonLimited(text);
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
