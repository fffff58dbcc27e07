#include "brx/HostUnits.h"

#include <cstring>

#include "brx/RotiGeral.h"
#include "db/DB.h"
#include "net/NetConnection.h"
#include "vcl/FormReader.h"
#include "vcl/StdCtrls.h"

namespace {
void RegisterNetClasses() {
    RegisterComponentClass<TNetConnection>("TNetConnection");
}

// The start-ups register the classes that form definitions name. The library also runs them
// when it is loaded, for the host's own forms, so a start-up run again only registers the same
// classes; nothing is unregistered while the library stays loaded, hence no shut-downs.
int gStdCtrls = 0, gDBRegister = 0, gNetConnection = 0, gBrxModule = 0;
const TUnitEntry kUnits[] = {
    {"StdCtrls", &RegisterStandardClasses, nullptr, &gStdCtrls},
    {"DBRegister", &RegisterDataClasses, nullptr, &gDBRegister},
    {"NetConnection", &RegisterNetClasses, nullptr, &gNetConnection},
    {"BrxModule", &RegisterBrxClasses, nullptr, &gBrxModule},
};
} // namespace

const TUnitEntry& HostUnit(const char* name) {
    for (const TUnitEntry& u : kUnits)
        if (std::strcmp(u.Name, name) == 0) return u;
    throw EComponentError(String("Unidade ") + name + " ausente da biblioteca do host.");
}
