#include "brx/RotiGeral.h"

#include "vcl/FormReader.h"
#include "vcl/Resources.h"

TfrmRotiGeral::TfrmRotiGeral(TComponent* owner) : TForm(owner) {
    Publish("FormCreate", &TfrmRotiGeral::FormCreate);
    Publish("FormClose", &TfrmRotiGeral::FormClose);
    Publish("FormCloseQuery", &TfrmRotiGeral::FormCloseQuery);
    Publish("FormKeyPress", &TfrmRotiGeral::FormKeyPress);
    Publish("sbtCancelClick", &TfrmRotiGeral::sbtCancelClick);
    ReadDefinition("TfrmRotiGeral");
    lblCodTela = FindOwned<TLabel>(this, "lblCodTela");
    grbDadosRel = FindOwned<TGroupBox>(this, "grbDadosRel");
    panMenu = FindOwned<TPanel>(this, "panMenu");
    panHelp = FindOwned<TPanel>(this, "panHelp");
    panBotoes = FindOwned<TPanel>(this, "panBotoes");
    sbtConfirma = FindOwned<TButtonFlat>(this, "sbtConfirma");
    sbtCancel = FindOwned<TButtonFlat>(this, "sbtCancel");
    msgPadrao = FindOwned<TMessages>(this, "msgPadrao");
}

void TfrmRotiGeral::ReadDefinition(const String& className) {
    TFormReader(this).Read(FormResource(className));
}

void TfrmRotiGeral::FormCreate(TObject*) {}

void TfrmRotiGeral::FormCloseQuery(TObject*, bool&) {}

void TfrmRotiGeral::FormClose(TObject*, TCloseAction& Action) {
    Action = caFree;
}

void TfrmRotiGeral::FormKeyPress(TObject*, Char& Key) {
    if (Key == 13) {
        SelectNext(true);
        Key = 0;
    }
}

void TfrmRotiGeral::sbtCancelClick(TObject*) {
    Close();
}
