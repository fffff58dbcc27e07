#pragma once
// A parameter record like the screen's (a few of its fields), a data source over it and a trace
// of the events in the order they ran.
#include <memory>
#include <nlohmann/json.hpp>

#include "db/DBClient.h"
#include "vcl/Forms.h"

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

struct ParamRecord {
    std::unique_ptr<TForm> root = std::make_unique<TForm>(nullptr);
    TClientDataSet* cds = new TClientDataSet(root.get());
    TDataSource* dts = new TDataSource(root.get());
    TStringField* code = new TStringField(root.get());
    TFloatField* days = new TFloatField(root.get());
    TStringField* simples = new TStringField(root.get());
    TFloatField* maxValue = new TFloatField(root.get());
    TDateTimeField* date = new TDateTimeField(root.get());
    Trace trace;

    ParamRecord() {
        cds->SetName("cdsParamForne");
        auto field = [&](TField* f, const char* name, int size) {
            f->SetFieldName(name);
            if (size) f->SetSize(size);
            f->SetDataSet(cds);
        };
        field(code, "CDFORNECED", 21);
        field(days, "NRDIASBLOQNFFOR", 0);
        field(simples, "IDSIMPLESNACIONAL", 1);
        field(maxValue, "VRMAXPERMFORN", 0);
        field(date, "DTREACONSIMPXML", 0);
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
