#include "vcl/Resources.h"

#include <algorithm>
#include <vector>

namespace {
struct Entry {
    int handle;
    String name;
    TResourceFinder finder;
};
std::vector<Entry>& Modules() {
    static std::vector<Entry> m;
    return m;
}
int gNextHandle = 1;
} // namespace

int RegisterModule(const String& moduleName, TResourceFinder finder) {
    int h = gNextHandle++;
    Modules().push_back({h, moduleName, std::move(finder)});
    return h;
}

void UnregisterModule(int handle) {
    auto& m = Modules();
    m.erase(std::remove_if(m.begin(), m.end(), [&](const Entry& e) { return e.handle == handle; }),
            m.end());
}

std::vector<String> RegisteredModules() {
    std::vector<String> out;
    for (const Entry& e : Modules())
        out.push_back(e.name);
    return out;
}

std::optional<String> FindResource(const String& name) {
    const auto& m = Modules();
    for (auto it = m.rbegin(); it != m.rend(); ++it)
        if (auto r = it->finder(name)) return r;
    return std::nullopt;
}

String FormResource(const String& className) {
    String key = UpperCase(className);
    if (auto r = FindResource(key)) return *r;
    throw EResNotFound("Recurso " + key + " não encontrado.");
}
