// The screen's life: one instance however often it is opened, a new one after a close, creation
// under the busy animation with the server address read at every connect, and failed creations
// that leave nothing behind and are retried.
#include <algorithm>

#include "ScreenFixture.h"
#include "Showavi.h"
#include "net/Brannox.h"
#include "vcl/Resources.h"

using namespace Cli_kxf27400;

namespace {

// Records what the screen looks like each time the busy animation comes and goes, and can make
// the animation fail, which fails the creation part-way.
class TWatchedDialogs : public TScriptedDialogs {
public:
    struct Moment {
        int kind = 0;
        String over;
        int cursor = 0;
        bool created = false;
        bool connected = false;
    };
    void BusyShow(TCustomForm* over, int kind, const String& text) override {
        if (!failShow.empty()) throw Exception(failShow);
        TScriptedDialogs::BusyShow(over, kind, text);
        shows.push_back({kind, busy.back().over, Screen->Cursor(), boStCriado, Connected()});
    }
    void BusyHide() override {
        TScriptedDialogs::BusyHide();
        connectedAtHide.push_back(Connected());
    }
    std::vector<Moment> shows;
    std::vector<bool> connectedAtHide;
    String failShow;

private:
    static bool Connected() { return frmParamForne && frmParamForne->netParamForne->Connected(); }
};

// Installs a dialog service for one test and puts the fixture's back afterwards.
class ServiceSwap {
public:
    ServiceSwap(IDialogService* now, IDialogService* back) : back_(back) { SetDialogService(now); }
    ~ServiceSwap() { SetDialogService(back_); }

private:
    IDialogService* back_;
};

int CountKind(const std::vector<TScriptedDialogs::Busy>& busy, int kind) {
    return static_cast<int>(
        std::count_if(busy.begin(), busy.end(), [kind](const auto& b) { return b.kind == kind; }));
}

// A form of the host shown after the screen, so the screen is no longer in front.
TForm* ShowOtherChild() {
    TForm* other = nullptr;
    Application->CreateForm(other);
    other->SetName("frmOutraTela");
    other->SetFormStyle(fsMDIChild);
    other->Show();
    return other;
}

} // namespace

class LifecycleTest : public ScreenTest {};

TEST_F(LifecycleTest, OpeningAgainOnlyShowsTheInstanceInFrontInNormalState) {
    for (TWindowState before : {wsMinimized, wsMaximized, wsNormal}) {
        SCOPED_TRACE(static_cast<int>(before));
        if (!boStCriado) {
            ASSERT_TRUE(Open());
        }
        TfrmParamForne* first = Form();
        ASSERT_TRUE(Load("11222333000181"));
        dialogs_.ClearLog();

        TForm* other = ShowOtherChild();
        first->SetWindowState(before);
        ASSERT_GT(other->ZOrder(), first->ZOrder());

        ASSERT_TRUE(Open());
        EXPECT_EQ(Form(), first);
        EXPECT_TRUE(boStCriado);
        EXPECT_EQ(first->WindowState(), wsNormal);
        EXPECT_GT(first->ZOrder(), other->ZOrder());
        ASSERT_FALSE(Screen->Forms().empty());
        EXPECT_EQ(Screen->Forms().back(), first);
        EXPECT_TRUE(first->Visible());
        // Nothing was created or connected again: no animation, and the loaded row is still
        // shown with its supplier's inscription.
        EXPECT_TRUE(dialogs_.busy.empty());
        EXPECT_TRUE(first->netParamForne->Connected());
        EXPECT_EQ(first->cdsParamForne->State(), dsBrowse);
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
        EXPECT_EQ(first->edtNmRasSocForn->Text(), "Distribuidora Alfa Ltda");
        EXPECT_EQ(Screen->Cursor(), crDefault);
        EXPECT_TRUE(Dialogs().empty());
        delete other;
    }
}

TEST_F(LifecycleTest, CloseThenOpenCreatesANewConnectedInstance) {
    ASSERT_TRUE(Open());
    TfrmParamForne* first = Form();
    first->Tag = 27400; // marks the first instance; a new one starts with 0
    ASSERT_TRUE(Load("11222333000181"));
    stProdSerConsidera = "0101";

    ASSERT_TRUE(CloseScreen());
    EXPECT_FALSE(boStCriado);
    // The base screen freed the window: the host no longer lists it.
    EXPECT_FALSE(Screen->HasForm(first));

    dialogs_.ClearLog();
    ASSERT_TRUE(Open());
    ASSERT_TRUE(boStCriado);
    ASSERT_NE(Form(), nullptr);
    EXPECT_EQ(Form()->Tag, 0);
    EXPECT_TRUE(Form()->netParamForne->Connected());
    EXPECT_EQ(CountKind(dialogs_.busy, 0), 1);
    // A fresh screen: nothing loaded, the product list of the old one forgotten.
    EXPECT_EQ(Form()->cdsParamForne->State(), dsInactive);
    EXPECT_EQ(Form()->medNrInsJurNF->Text(), "");
    EXPECT_EQ(stProdSerConsidera, "");
    EXPECT_EQ(Form()->WindowState(), wsNormal);
    EXPECT_EQ(Screen->Forms().back(), Form());
    EXPECT_EQ(Screen->Cursor(), crDefault);
    EXPECT_TRUE(Dialogs().empty());

    // The new instance works against the server like the first one did.
    ASSERT_TRUE(Load("33987654000100"));
    EXPECT_EQ(Field("CDFORNECED")->AsString(), "000008");
    EXPECT_EQ(stProdSerConsidera, "0101;0102;0201");
}

TEST_F(LifecycleTest, CreationConnectsUnderTheAnimationWithTheHourglass) {
    TWatchedDialogs watch;
    ServiceSwap swap(&watch, &dialogs_);
    stProdSerConsidera = "0101;0102";

    ASSERT_TRUE(Open());

    // One animation, kind 0, over the host's main window, shown before the connect and hidden
    // after it, while the cursor was the hourglass and the screen not yet counted as created.
    ASSERT_EQ(watch.shows.size(), 1u);
    EXPECT_EQ(watch.shows[0].kind, 0);
    EXPECT_EQ(watch.shows[0].over, "frmPrincipal");
    EXPECT_EQ(watch.busy[0].text, "");
    EXPECT_EQ(watch.shows[0].cursor, crHourGlass);
    EXPECT_FALSE(watch.shows[0].created);
    EXPECT_FALSE(watch.shows[0].connected);
    ASSERT_EQ(watch.connectedAtHide.size(), 1u);
    EXPECT_TRUE(watch.connectedAtHide[0]);
    EXPECT_FALSE(watch.busyVisible);
    EXPECT_FALSE(Showavi::Showing());

    EXPECT_TRUE(boStCriado);
    EXPECT_EQ(Screen->Cursor(), crDefault);
    EXPECT_EQ(stProdSerConsidera, "");
    EXPECT_EQ(Form()->netParamForne->ServerName, "Kxf27400.rdmParamForne");
    EXPECT_FALSE(Form()->netParamForne->ThrowException);
    EXPECT_EQ(Form()->netParamForne->Host, "127.0.0.1");
    EXPECT_EQ(Form()->netParamForne->Port, ServerPort());
    EXPECT_TRUE(watch.dialogs.empty());
}

TEST_F(LifecycleTest, TheServerAddressIsReadAtEachConnect) {
    InProcessServer second(db_->Url(), "2027-01-15");
    ASSERT_NE(second.Port(), ServerPort());

    ASSERT_TRUE(Open());
    EXPECT_EQ(Form()->netParamForne->Port, ServerPort());
    // Changing the address does not move a screen that is already connected.
    Brannox::SetServer("127.0.0.1:" + std::to_string(second.Port()));
    ASSERT_TRUE(Load("11222333000181"));
    EXPECT_EQ(dtDataAtual, EncodeDate(2026, 12, 8));

    ASSERT_TRUE(CloseScreen());
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Form()->netParamForne->Connected());
    EXPECT_EQ(Form()->netParamForne->Host, "127.0.0.1");
    EXPECT_EQ(Form()->netParamForne->Port, second.Port());
    // The row now comes from the second server, whose date differs.
    ASSERT_TRUE(Load("11222333000181"));
    EXPECT_EQ(dtDataAtual, EncodeDate(2027, 1, 15));
    EXPECT_TRUE(Dialogs().empty());
    second.Stop();
}

TEST_F(LifecycleTest, AnUnreachableServerStillOpensTheScreenSilently) {
    StopServer(); // its port is now closed
    ASSERT_TRUE(Open());
    EXPECT_TRUE(boStCriado);
    ASSERT_NE(Form(), nullptr);
    EXPECT_FALSE(Form()->netParamForne->Connected());
    EXPECT_EQ(Form()->netParamForne->Port, ServerPort());
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(CountKind(dialogs_.busy, 0), 1);
    EXPECT_FALSE(dialogs_.busyVisible);
    EXPECT_EQ(Screen->Cursor(), crDefault);
    EXPECT_TRUE(Form()->Visible());

    // While it stays down a load fails, with the error shown and nothing left behind; once it
    // is back, the next load connects without reopening the screen.
    EXPECT_FALSE(Load("11222333000181"));
    std::vector<String> shown = Dialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("error:", 0), 0u) << shown[0];
    EXPECT_EQ(Form()->cdsParamForne->State(), dsInactive);
    EXPECT_FALSE(dialogs_.busyVisible);
    EXPECT_EQ(Screen->Cursor(), crDefault);

    RestartServer();
    ASSERT_TRUE(Load("11222333000181"));
    EXPECT_TRUE(Form()->netParamForne->Connected());
    EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
    EXPECT_TRUE(Dialogs().empty());
}

TEST_F(LifecycleTest, FormCloseDisconnectsAndLetsTheBaseFreeTheScreen) {
    ASSERT_TRUE(Open());
    TfrmParamForne* f = Form();
    ASSERT_TRUE(f->netParamForne->Connected());
    TCloseAction action = caHide;
    f->FormClose(f, action);
    EXPECT_FALSE(f->netParamForne->Connected());
    EXPECT_FALSE(boStCriado);
    EXPECT_EQ(action, caFree);
    delete f; // not released through the event loop here
}

// A definition the reader cannot use, registered in front of the package's own.
class BrokenDefinition {
public:
    explicit BrokenDefinition(String text) {
        handle_ = RegisterModule("PKG_KXF27400_QUEBRADO",
                                 [text](const String& name) -> std::optional<String> {
                                     if (name == "TFRMPARAMFORNE") return text;
                                     return std::nullopt;
                                 });
    }
    ~BrokenDefinition() { Remove(); }
    void Remove() {
        if (handle_) UnregisterModule(handle_);
        handle_ = 0;
    }

private:
    int handle_ = 0;
};

TEST_F(LifecycleTest, AFailedCreationLeavesNothingAndTheNextOpenRetries) {
    struct Case {
        const char* what;
        String definition;
        String message; // empty: the reader's own message
    };
    const Case cases[] = {
        {"syntax", "inherited frmParamForne: TfrmParamForne\n  Caption = 'Parâmetros'\n", ""},
        {"missing control",
         "inherited frmParamForne: TfrmParamForne\n  Caption = 'Parâmetros'\nend\n",
         "Definição de formulário, linha 1: componente grbFornecedor de TfrmParamForne ausente "
         "da definição"},
    };
    const size_t formsBefore = Screen->Forms().size();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BrokenDefinition broken(c.definition);
        String expected = c.message;
        if (expected.empty()) {
            try {
                CriaParamForne();
                ADD_FAILURE() << "the broken definition was accepted";
            } catch (const Exception& e) {
                expected = e.Message();
            }
            ASSERT_FALSE(expected.empty());
        }

        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_FALSE(Open());
            EXPECT_FALSE(boStCriado);
            EXPECT_EQ(frmParamForne, nullptr);
            EXPECT_EQ(Dialogs(), std::vector<String>{"error:" + expected});
            EXPECT_EQ(Screen->Cursor(), crDefault);
            EXPECT_FALSE(Showavi::Showing());
            EXPECT_EQ(Screen->Forms().size(), formsBefore);
        }

        broken.Remove();
        ASSERT_TRUE(Open());
        EXPECT_TRUE(boStCriado);
        EXPECT_TRUE(Form()->netParamForne->Connected());
        EXPECT_EQ(Form()->Caption(), "Parâmetros por Fornecedor");
        EXPECT_TRUE(Dialogs().empty());
        ASSERT_TRUE(CloseScreen());
    }
}

TEST_F(LifecycleTest, AFailureDuringFormCreateHidesNothingLeftAndIsShown) {
    TWatchedDialogs watch;
    ServiceSwap swap(&watch, &dialogs_);
    const size_t formsBefore = Screen->Forms().size();
    watch.failShow = "Animação indisponível.";

    EXPECT_FALSE(Open());
    EXPECT_FALSE(boStCriado);
    EXPECT_EQ(frmParamForne, nullptr);
    ASSERT_EQ(watch.dialogs.size(), 1u);
    EXPECT_EQ(watch.dialogs[0].kind, "error");
    EXPECT_EQ(watch.dialogs[0].text, "Animação indisponível.");
    EXPECT_EQ(Screen->Cursor(), crDefault);
    EXPECT_FALSE(Showavi::Showing());
    EXPECT_EQ(Screen->Forms().size(), formsBefore);

    watch.failShow.clear();
    ASSERT_TRUE(Open());
    EXPECT_TRUE(boStCriado);
    EXPECT_TRUE(Form()->netParamForne->Connected());
    EXPECT_FALSE(watch.busyVisible);
}
