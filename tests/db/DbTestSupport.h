#pragma once
// A parameter record like the screen's (a few of its fields), a data source over it and a trace
// of the events in the order they ran.
#include <memory>
#include <nlohmann/json.hpp>

#include "FieldedDataSet.h"

struct Trace {
    std::vector<String> items;
    void Add(const String& s) { items.push_back(s); }
    String Take() {
        String out;
        for (size_t i = 0; i < items.size(); ++i)
            out += (i ? ";" : "") + items[i];
        items.clear();
        return out;
    }
};

struct ParamRecord : FieldedDataSet {
    TDataSource* dts = new TDataSource(root.get());
    TStringField* code = AddField<TStringField>("CDFORNECED", 21);
    TFloatField* days = AddField<TFloatField>("NRDIASBLOQNFFOR");
    TStringField* simples = AddField<TStringField>("IDSIMPLESNACIONAL", 1);
    TFloatField* maxValue = AddField<TFloatField>("VRMAXPERMFORN");
    TDateTimeField* date = AddField<TDateTimeField>("DTREACONSIMPXML");
    Trace trace;

    ParamRecord() {
        cds->SetName("cdsParamForne");
        maxValue->SetDisplayFormat("#,##0.00");
        dts->SetDataSet(cds);
        auto ev = [this](const char* name) { return [this, name](TDataSet*) { trace.Add(name); }; };
        cds->BeforeEdit = ev("BeforeEdit");
        cds->AfterEdit = ev("AfterEdit");
        cds->BeforePost = ev("BeforePost");
        cds->AfterPost = ev("AfterPost");
        cds->BeforeCancel = ev("BeforeCancel");
        cds->AfterCancel = ev("AfterCancel");
        dts->OnStateChange = [this](TObject*) {
            trace.Add(String("StateChange:") + DataSetStateName(dts->State()));
        };
    }

    static nlohmann::json Fields() {
        return nlohmann::json::parse(R"([{"name":"CDFORNECED","type":"string","size":21},
            {"name":"NRDIASBLOQNFFOR","type":"float"},
            {"name":"IDSIMPLESNACIONAL","type":"string","size":1},
            {"name":"VRMAXPERMFORN","type":"float"},
            {"name":"DTREACONSIMPXML","type":"datetime"}])");
    }
    static nlohmann::json Row() { return {"000001", 30, "N", 1234.5, nullptr}; }
    static Variant Packet(nlohmann::json rows = nlohmann::json::array({Row()})) {
        return Variant::Json({{"fields", Fields()}, {"rows", rows}});
    }
    void Load() {
        cds->SetData(Packet());
        trace.Take();
    }
};
