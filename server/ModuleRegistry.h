// The remote data modules this server offers, by server name ("Kxf27400.rdmParamForne").
#pragma once

#include "RemoteModule.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class ModuleRegistry {
public:
    void Add(std::unique_ptr<RemoteModule> module) {
        const std::string name = module->Name();
        modules_[name] = std::move(module);
    }
    RemoteModule* Find(const std::string& name) const {
        auto it = modules_.find(name);
        return it == modules_.end() ? nullptr : it->second.get();
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& [name, module] : modules_)
            names.push_back(name);
        return names;
    }

private:
    std::map<std::string, std::unique_ptr<RemoteModule>> modules_;
};
