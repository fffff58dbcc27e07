#pragma once
// The run-time package PKG_KXF27400: its plain entries (found by the host with the dynamic loader),
// its unit table and the module entry that the loader runs at attach and detach.
#include <cstddef>

// One unit of the package: its start-up and shut-down, run once however often the package is
// initialised, thanks to the counter.
struct TPackageUnitEntry {
    const char* Name;
    void (*Init)();
    void (*FInit)();
    int* Counter;
};

struct TPackageInfoTable {
    int UnitCount;
    const TPackageUnitEntry* Units;
};

extern "C" {
void IniProc();
void Initialize();
void Finalize();
const TPackageInfoTable* GetPackageInfoTable();
}

namespace Pkg_kxf27400 {
void PackageLoad();
void PackageUnload();
const TPackageInfoTable* GetPackageInfoTable();
// Called by the loader at process attach (reason 1) and detach (reason 0).
void initialization(int reason);
// The package's resource lookup: a separate resource module when one is found beside the
// package, else the resources carried by the package itself.
bool UsesResourceModule();
} // namespace Pkg_kxf27400
