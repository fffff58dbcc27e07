#include "db/DBGeral.h"

#include <soci/soci.h>

#include "sql/Schema.h"
#include "vcl/FormReader.h"

TdtmDBGeral* dtmDBGeral = nullptr;

TdtmDBGeral::TdtmDBGeral(TComponent* owner) : TDataModule(owner) {
    SetName("dtmDBGeral");
    adcGeral = new TADOConnection(this);
    adcGeral->SetName("adcGeral");
    dtbGeral = new TIBDatabase(this);
    dtbGeral->SetName("dtbGeral");
    dtbGeral->SetConnection(adcGeral);
    ibtGeral = new TIBTransaction(this);
    ibtGeral->SetName("ibtGeral");
    ibtGeral->SetConnection(adcGeral);
}

TdtmDBGeral::~TdtmDBGeral() {
    if (dtmDBGeral == this) dtmDBGeral = nullptr;
    UnregisterGlobalRoot(this);
    DestroyComponents();
}

void TdtmDBGeral::RunAll(const std::vector<std::string>& statements) {
    soci::session& session = adcGeral->Session();
    try {
        // Queries standing partway would keep this transaction from seeing or writing current data.
        adcGeral->ReleaseOpenQueries(nullptr);
        soci::transaction tr(session);
        for (const std::string& s : statements)
            session << s;
        tr.commit();
    } catch (...) {
        RethrowAsDatabaseError("Erro ao preparar o banco de dados: ");
    }
}

void TdtmDBGeral::CreateSchema() {
    RunAll(kxsql::SchemaStatements(kxsql::EngineOfUrl(adcGeral->Url())));
}

void TdtmDBGeral::LoadDemo() {
    RunAll(kxsql::DemoStatements(kxsql::EngineOfUrl(adcGeral->Url())));
}

void OpenDtmDBGeral(const String& url) {
    CloseDtmDBGeral();
    auto* module = new TdtmDBGeral(Application);
    try {
        module->adcGeral->Open(url);
    } catch (...) {
        delete module;
        throw;
    }
    dtmDBGeral = module;
}

void CloseDtmDBGeral() {
    delete dtmDBGeral;
    dtmDBGeral = nullptr;
}
