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
