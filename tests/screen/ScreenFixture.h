// Test support for the screen: a demo database and a real appserver per test, the shared data
// module and the host's settings pointing at them, the package initialised, a scripted dialog
// service, and small helpers that act as a user would.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "package/Pkg_kxf27400.h"
#include "screen/Cli_kxf27400.h"
#include "server/ServerHarness.h"
#include "vcl/Dialogs.h"
#include "vcl/Input.h"

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

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
