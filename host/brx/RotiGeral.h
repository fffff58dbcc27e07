#pragma once
// The base of every screen: a data area on the left, a menu panel on the right with the confirm
// and cancel buttons, the screen-code label and the message catalogue. It delivers the form's
// create, close and key-press events to FormCreate, FormClose and FormKeyPress, which a screen
// overrides; a closed screen is freed.
#include "brx/ButtonFlat.h"
#include "brx/Messages.h"
#include "vcl/Forms.h"

class TfrmRotiGeral : public TForm {
public:
    explicit TfrmRotiGeral(TComponent* owner);
    String ClassName() const override { return "TfrmRotiGeral"; }

    virtual void FormCreate(TObject* Sender);
    // Whether the screen may close now; the base lets it.
    virtual void FormCloseQuery(TObject* Sender, bool& CanClose);
    // Frees the screen once it is closed.
    virtual void FormClose(TObject* Sender, TCloseAction& Action);
    // Enter moves on to the next field, as users of these screens expect.
    virtual void FormKeyPress(TObject* Sender, Char& Key);
    // The base's own cancel button closes the screen.
    virtual void sbtCancelClick(TObject* Sender);

    TLabel* lblCodTela = nullptr;
    TGroupBox* grbDadosRel = nullptr;
    TPanel* panMenu = nullptr;
    TPanel* panHelp = nullptr;
    TPanel* panBotoes = nullptr;
    TButtonFlat* sbtConfirma = nullptr;
    TButtonFlat* sbtCancel = nullptr;
    TMessages* msgPadrao = nullptr;

protected:
    // Reads the form definition of `className` from the loaded modules onto this form.
    void ReadDefinition(const String& className);
};

void RegisterBrxClasses();
