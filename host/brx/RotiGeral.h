#pragma once
// The base of every screen: a data area on the left, a menu panel on the right with the confirm
// and cancel buttons, the screen-code label and the message catalogue. It delivers the form's
// create, close and key-press events to FormCreate, FormClose and FormKeyPress, which a screen
// overrides; a closed screen is freed. Its components and a screen's are published fields, set by
// the form reader; a definition that lacks one fails.
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

    TLabel* lblCodTela = Published(lblCodTela, "lblCodTela");
    TGroupBox* grbDadosRel = Published(grbDadosRel, "grbDadosRel");
    TPanel* panMenu = Published(panMenu, "panMenu");
    TPanel* panHelp = Published(panHelp, "panHelp");
    TPanel* panBotoes = Published(panBotoes, "panBotoes");
    TButtonFlat* sbtConfirma = Published(sbtConfirma, "sbtConfirma");
    TButtonFlat* sbtCancel = Published(sbtCancel, "sbtCancel");
    TMessages* msgPadrao = Published(msgPadrao, "msgPadrao");

protected:
    // Reads the form definition of `className` from the loaded modules onto this form.
    void ReadDefinition(const String& className);
};

void RegisterBrxClasses();
