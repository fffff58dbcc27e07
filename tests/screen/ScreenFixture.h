// Test support for the screen: a demo database and a real appserver per test, the shared data
// module and the host's settings pointing at them, the package initialised, a scripted dialog
// service, and small helpers that act as a user would.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "package/Pkg_kxf27400.h"
#include "screen/Cli_kxf27400.h"
#include "ServerHarness.h"
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

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The database engine of the test ("sqlite" or "postgresql").
    virtual std::string Engine() const { return "sqlite"; }

    // The menu entry, as one user event (exceptions shown through the dialog service).
    bool Open();
    bool CloseScreen();
    Cli_kxf27400::TfrmParamForne* Form() const { return Cli_kxf27400::frmParamForne; }
    template <class T> T* C(const char* name) const {
        T* c = FindOwned<T>(Form(), name);
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    TField* F(const char* name) const { return Form()->cdsParamForne->FieldByName(name); }

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
    std::unique_ptr<ServerProcess> server_;
    TScriptedDialogs dialogs_;
};

// The screen against each engine; the PostgreSQL variant runs when KX_TEST_PG names a server.
class ScreenEngineTest : public ScreenTest, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override;
    std::string Engine() const override { return GetParam(); }
};
