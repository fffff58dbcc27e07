// Registration of the data classes that form definitions may name.
#include "db/ADOIBQuery.h"
#include "db/DB.h"
#include "db/DBClient.h"
#include "db/DBCtrls.h"
#include "vcl/FormReader.h"

void RegisterDataClasses() {
    RegisterComponentClass<TStringField>("TStringField");
    RegisterComponentClass<TFloatField>("TFloatField");
    RegisterComponentClass<TDateTimeField>("TDateTimeField");
    RegisterComponentClass<TClientDataSet>("TClientDataSet");
    RegisterComponentClass<TDataSource>("TDataSource");
    RegisterComponentClass<TDBEdit>("TDBEdit");
    RegisterComponentClass<TDBCheckBox>("TDBCheckBox");
    RegisterComponentClass<TADOIBQuery>("TADOIBQuery");
    RegisterComponentClass<TADOIBStringField>("TADOIBStringField");
    RegisterComponentClass<TADOConnection>("TADOConnection");
    RegisterComponentClass<TIBDatabase>("TIBDatabase");
    RegisterComponentClass<TIBTransaction>("TIBTransaction");
}

namespace {
struct Registrar {
    Registrar() { RegisterDataClasses(); }
} registrar;
} // namespace
