#include "db/DBGeral.h"

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
