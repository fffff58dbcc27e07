// The remote data module of the supplier-parameters screen: one supplier's row, its saves and
// history, and the same in bulk (export and import in batches).
#pragma once

#include "RemoteModule.h"

class RdmParamForne : public RemoteModule {
public:
    std::string Name() const override { return "Kxf27400.rdmParamForne"; }
    std::vector<std::string> Methods() const override {
        return {"GetParamForn", "SetParamForn", "GetLogParamForn", "ExportParamForn",
                "ImportParamForn"};
    }
    nlohmann::json Call(const std::string& method, const nlohmann::json& params,
                        CallContext& ctx) override;
    // A batch of the bulk methods takes far longer: those go to the workers.
    bool Quick(const std::string& method) const override {
        return method == "GetParamForn" || method == "SetParamForn" || method == "GetLogParamForn";
    }

private:
    nlohmann::json GetParamForn(const nlohmann::json& params, CallContext& ctx);
    nlohmann::json SetParamForn(const nlohmann::json& params, CallContext& ctx);
    nlohmann::json GetLogParamForn(const nlohmann::json& params, CallContext& ctx);
    nlohmann::json ExportParamForn(const nlohmann::json& params, CallContext& ctx);
    nlohmann::json ImportParamForn(const nlohmann::json& params, CallContext& ctx);
};
