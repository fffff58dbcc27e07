#pragma once
// The run-time package PKG_KXF27400: its plain entries (found by the host with the dynamic loader),
// its unit table and the module entry that the loader runs at attach and detach.
#include "brx/HostUnits.h"

// One unit the package starts: its start-up and shut-down, run once however often it is started,
// thanks to the counter. Units of the host library share the host's entry and counter.
using TPackageUnitEntry = TUnitEntry;

enum class TPackageKind { RunTimeOnly, DesignTimeOnly, RunAndDesignTime };

// What the host's package loader reads: the kind, the required packages and the contained units
// (in their declared order), and the unit table in start order.
struct TPackageInfoTable {
    TPackageKind Kind;
    bool NeverBuild; // never rebuilt implicitly
    int RequiresCount;
    const char* const* Requires;
    int ContainsCount;
    const char* const* Contains;
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
