#include "package/Pkg_kxf27400.h"

#include <dlfcn.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "screen/Cli_kxf27400.h"
#include "vcl/Resources.h"

std::optional<std::string> PkgFindResource(const std::string& name);

namespace {
const char* const kRequires[] = {"_brx", "_rtl", "_qr", "_lib", "_ger", "_frm", "_db", "_vcl"};
const char* const kContains[] = {"Pkg_kxf27400", "Cli_kxf27400", "SysInit"};

// Every unit the package starts, in start order: the host library's units that have a start-up,
// in the order of the library's layers, then the screen.
const std::vector<TPackageUnitEntry>& Units() {
    static int cliCounter = 0;
    static const std::vector<TPackageUnitEntry> units = {
        HostUnit("StdCtrls"),
        HostUnit("DBRegister"),
        HostUnit("NetConnection"),
        HostUnit("BrxModule"),
        {"Cli_kxf27400", &Cli_kxf27400::initialization, &Cli_kxf27400::Finalization, &cliCounter},
    };
    return units;
}

const TPackageInfoTable& Info() {
    static const TPackageInfoTable info = {
        TPackageKind::RunTimeOnly,
        true,
        static_cast<int>(std::size(kRequires)),
        kRequires,
        static_cast<int>(std::size(kContains)),
        kContains,
        static_cast<int>(Units().size()),
        Units().data(),
    };
    return info;
}

void* gInstance = nullptr;       // where the loader mapped the module
void* gResourceModule = nullptr; // a separate resource-only library, when there is one
int gModuleHandle = 0;

std::string ModulePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&Pkg_kxf27400::initialization), &info) && info.dli_fname) {
        gInstance = info.dli_fbase;
        return info.dli_fname;
    }
    return {};
}

// A resource module sits beside the package with the same name and the extension ".res.so"
// (libPKG_KXF27400.res.so) and exports FindPackageResource.
using TResourceEntry = bool (*)(const char* name, const char** text);
} // namespace

namespace Pkg_kxf27400 {

void initialization(int reason) {
    if (reason == 1) {
        std::string path = ModulePath();
        std::string res = path;
        if (auto dot = res.rfind(".so"); dot != std::string::npos) res.replace(dot, 3, ".res.so");
        gResourceModule = res == path ? nullptr : dlopen(res.c_str(), RTLD_NOW | RTLD_LOCAL);
        TResourceEntry entry =
            gResourceModule
                ? reinterpret_cast<TResourceEntry>(dlsym(gResourceModule, "FindPackageResource"))
                : nullptr;
        if (gResourceModule && !entry) {
            dlclose(gResourceModule);
            gResourceModule = nullptr;
        }
        gModuleHandle = RegisterModule("PKG_KXF27400", [entry](const String& name) {
            if (entry) {
                const char* text = nullptr;
                if (entry(name.c_str(), &text) && text) return std::optional<String>(text);
            }
            return PkgFindResource(name);
        });
    } else {
        UnregisterModule(gModuleHandle);
        gModuleHandle = 0;
        if (gResourceModule) dlclose(gResourceModule);
        gResourceModule = nullptr;
        gInstance = nullptr;
    }
}

bool UsesResourceModule() {
    return gResourceModule != nullptr;
}

void PackageLoad() {
    for (const TPackageUnitEntry& u : Units())
        if ((*u.Counter)++ == 0 && u.Init) u.Init();
}

void PackageUnload() {
    const auto& units = Units();
    for (auto u = units.rbegin(); u != units.rend(); ++u)
        if (*u->Counter > 0 && --(*u->Counter) == 0 && u->FInit) u->FInit();
}

const TPackageInfoTable* GetPackageInfoTable() {
    return &Info();
}

} // namespace Pkg_kxf27400

extern "C" {
void IniProc() {
    Cli_kxf27400::CriaParamForne();
}
void Initialize() {
    Pkg_kxf27400::PackageLoad();
}
void Finalize() {
    Pkg_kxf27400::PackageUnload();
}
const TPackageInfoTable* GetPackageInfoTable() {
    return Pkg_kxf27400::GetPackageInfoTable();
}
// The same table under the name with the package marker character.
const TPackageInfoTable* GetPackageInfoTableMarked() __asm__("_GetPackageInfoTable");
const TPackageInfoTable* GetPackageInfoTableMarked() {
    return Pkg_kxf27400::GetPackageInfoTable();
}
}

namespace {
__attribute__((constructor)) void ProcessAttach() {
    Pkg_kxf27400::initialization(1);
}
__attribute__((destructor)) void ProcessDetach() {
    Pkg_kxf27400::initialization(0);
}
} // namespace
