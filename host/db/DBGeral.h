#pragma once
// The host's shared data module: one connection to the host database that every screen's
// queries use ("dtmDBGeral.adcGeral" in their definitions). It exists before any screen.
#include "db/Connection.h"
#include "vcl/Forms.h"

class TdtmDBGeral : public TDataModule {
public:
    explicit TdtmDBGeral(TComponent* owner);
    ~TdtmDBGeral() override;
    String ClassName() const override { return "TdtmDBGeral"; }

    TADOConnection* adcGeral;
    TIBDatabase* dtbGeral;
    TIBTransaction* ibtGeral;
};

extern TdtmDBGeral* dtmDBGeral;

// Creates the module (owned by Application), replacing one already open, and connects it to
// "sqlite:PATH" or "postgresql://USER@HOST:PORT/DB". EDatabaseError when it cannot connect; the
// module is then not created.
void OpenDtmDBGeral(const String& url);
void CloseDtmDBGeral();
