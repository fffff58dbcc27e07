// Test support for the screen: a demo database and an application server per test, the shared
// data module and the host's settings pointing at them, the package initialised, a scripted
// dialog service, and small helpers that act as a user would.
//
// The server is the server's own call handling run in this process, reached through the same
// request handling as over HTTP (JSON-RPC errors, idempotency keys, every check). A test about the
// wire itself (a lost or stalled answer, a relay in between) asks for the real appserver over TCP.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "InProcessServer.h"
#include "ServerHarness.h"
#include "package/Pkg_kxf27400.h"
#include "screen/Cli_kxf27400.h"
#include "vcl/Dialogs.h"
#include "vcl/Input.h"

// The consistency date's confirmation for the server's day and its required-date message, as the
// dialog log shows them.
inline const char* const kConfirma08 =
    "warning:Confirma a data inicial para as validações das consistências na importação XML "
    "(geração de painel) para o dia 08/12/2026? Essa data não poderá ser alterada após a "
    "confirmação.";
inline const char* const kDeve =
    "error:Data inicial para validações das consistências deve ser informada quando o parâmetro "
    "\"Realiza Consistências na Importação de XML (geração de painel)\" estiver selecionado.";

// The user's answer to a search list: a row picked, the rows of these first-column texts
// checked, or the list cancelled.
inline TScriptedDialogs::PickAnswer PickRow(int row) {
    TScriptedDialogs::PickAnswer a;
    a.row = row;
    return a;
}
inline TScriptedDialogs::PickAnswer PickChecked(std::vector<String> keys) {
    TScriptedDialogs::PickAnswer a;
    a.multi = true;
    a.keys = std::move(keys);
    return a;
}
inline TScriptedDialogs::PickAnswer PickCancel() {
    TScriptedDialogs::PickAnswer a;
    a.cancel = true;
    return a;
}

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The database engine of the test ("sqlite" or "postgresql").
    virtual std::string Engine() const { return "sqlite"; }
    // True: the real appserver as a child process, over TCP. False: the server in this process.
    virtual bool OverTheWire() const { return false; }

    // The port of the test's server, which the host's settings point at.
    int ServerPort() const;
    // Stops the server: its port is closed from then on.
    void StopServer();
    // Starts the server again on the port it had.
    void RestartServer();

    // The menu entry, as one user event (exceptions shown through the dialog service).
    bool Open();
    bool CloseScreen();
    Cli_kxf27400::TfrmParamForne* Form() const { return Cli_kxf27400::frmParamForne; }
    // The screen's component of that name and class (a test failure and nullptr when none).
    template <class T> T* Component(const char* name) const {
        T* c = FindOwned<T>(Form(), name);
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    // The field of the parameter record of that name.
    TField* Field(const char* name) const { return Form()->cdsParamForne->FieldByName(name); }

    bool Focus(const char* control);
    bool Type(const char* control, const String& text);
    bool Clear(const char* control);
    bool Key(const char* control, Char key);
    bool Click(const char* control);
    bool Tab(bool back = false);
    // Types the inscription and leaves the edit, which loads the supplier.
    bool Load(const String& inscricao);
    // Texts of the dialogs shown since the last call, "kind:text" each, and forgets them.
    std::vector<String> Dialogs();

    std::unique_ptr<TestDatabase> db_;
    std::unique_ptr<InProcessServer> server_; // the test's server unless OverTheWire
    // The real appserver: the test's server when OverTheWire, else one a test starts for a
    // program that speaks HTTP to it (a relay). Stopped with the test.
    std::unique_ptr<ServerProcess> appserver_;
    TScriptedDialogs dialogs_;

private:
    void StartServer(int port);
};

// The option boxes of the screen and the field each one shows. ownClick: a click handler of its
// own that starts the edit and writes the field; the others rely on the data link, or, for the
// consistency box, on the rules of its date.
struct OptionBox {
    const char* box;
    const char* field;
    bool ownClick;
};
inline constexpr OptionBox kOptionBoxes[] = {
    {"dckBloqNFRelacForn", "IDBLQNFRELAFOAF", true},
    {"dckOImpXmlNF", "IDOBRIMPXMLNF", true},
    {"dckObrigCAcesso", "IDOBRCHAVACESFO", true},
    {"dckVerifCpfCnpj", "IDVERINSFORCHNFE", true},
    {"dckSimples", "IDSIMPLESNACIONAL", true},
    {"dckVencXML", "IMPVENCXML", true},
    {"dckReaConsImpXml", "IDREACONSIMPXML", false},
    {"dckBloqAltProdRelac", "IDBLOQALTPRODREL", true},
    {"dckProcNotaDebCre", "IDPROCNOTADEBCRE", false},
    {"dckProdIGXML", "IDUTPRIGXML", false},
    {"dckReaConfNF", "IDREACONFVRNF", true},
    {"dckIdUtDescBCST", "IDUTDESCITBCST", true},
    {"dckCfopCte", "IDCFOPCTEXML", true},
    {"dckImpVencCTe", "IDIMPVENCXMLCTE", true},
    {"dckNGravaRelac", "IDNGRAVARELAC", true},
};

// The screen against each engine; the PostgreSQL variant runs when KX_TEST_PG names a server.
class ScreenEngineTest : public ScreenTest, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override;
    std::string Engine() const override { return GetParam(); }
};
