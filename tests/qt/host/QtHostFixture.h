#pragma once
// The host's desktop around the real screen, in this process: a demo database, the server (its
// call handling in this process, or the real appserver for a test that runs another program), the
// main window with the Qt dialog service replaced by the scripted one (messages are recorded,
// not shown), and helpers to reach the screen's components and widgets.
#include <QApplication>
#include <QTest>

#include "InProcessServer.h"
#include "ServerHarness.h"
#include "db/DBGeral.h"
#include "hostapp/qt/QtHost.h"
#include "net/Brannox.h"
#include "net/NetConnection.h"
#include "package/Pkg_kxf27400.h"
#include "rtl/DateUtils.h"
#include "screen/Cli_kxf27400.h"
#include "vcl/Input.h"

inline const char* kToday = "2026-12-08";
inline const char* kInscricao = "11222333000181";

inline void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

// The host as hostapp is, with the package linked in instead of loaded.
class TTestHost : public IKxHost {
public:
    TTestHost(String db, String server) : db_(std::move(db)), server_(std::move(server)) {}
    void OpenScreen() override { IniProc(); }
    TCustomForm* ScreenForm() override {
        return Cli_kxf27400::boStCriado ? Cli_kxf27400::frmParamForne : nullptr;
    }
    String ServerAddress() const override { return server_; }
    String DatabaseUrl() const override { return db_; }
    String OperatorName() const override { return "MARIA"; }
    int RunScript(std::istream&, std::ostream&) override { return 0; }
    // As hostapp signs in: the name and password kept for every connection, one attempt now.
    String LogIn(const String& name, const String& password) override {
        TNetConnection::SetOperator(name);
        TNetConnection::SetPassword(password);
        String message;
        const auto r = TNetConnection::LogIn(message);
        if (r == TNetConnection::TLoginResult::Ok || r == TNetConnection::TLoginResult::NotRequired)
            return "";
        TNetConnection::SetPassword("");
        return message;
    }

private:
    String db_, server_;
};

// Where the model puts a control inside its form's client area: its Left/Top plus its parents'.
inline QPoint ModelPos(const TControl* c) {
    QPoint p;
    for (; c && !dynamic_cast<const TCustomForm*>(c); c = c->Parent())
        p += QPoint(c->Left(), c->Top());
    return p;
}

class QtHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Application->MainForm()) {
            TForm* main = nullptr;
            Application->CreateForm(main);
            main->SetName("frmPrincipal");
            main->SetCaption("KX - Compras e Documentos Fiscais");
            main->SetFormStyle(fsMDIForm);
        }
        db_ =
            std::make_unique<TestDatabase>("sqlite", OverTheWire() ? TestDatabase::Init::ByAppserver
                                                                   : TestDatabase::Init::InProcess);
        if (OverTheWire()) {
            appserver_ = std::make_unique<ServerProcess>(
                db_->Url(), std::vector<std::string>{"--today", kToday});
            address_ = "127.0.0.1:" + std::to_string(appserver_->Port());
        } else {
            TNetConnection::SetTransportFactory(InProcessTransports());
            server_ = std::make_unique<InProcessServer>(db_->Url(), kToday);
            address_ = server_->Address();
        }
        OpenDtmDBGeral(db_->Url());
        Brannox::SetServer(address_);
        SetTodayOverride(DateOf(ISOToDateTime(kToday)));
        Initialize();
        host_ = std::make_unique<TTestHost>(db_->Url(), address_);
        qtHost_ = std::make_unique<TQtHost>(host_.get());
        SetDialogService(&dialogs_); // messages are recorded, not shown
        qtHost_->Show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&qtHost_->Window()));
    }

    void TearDown() override {
        if (TCustomForm* f = host_->ScreenForm()) {
            UserInput::Close(f);
            if (Cli_kxf27400::boStCriado) delete f;
        }
        Application->ProcessMessages();
        qtHost_.reset();
        Settle();
        Finalize();
        CloseDtmDBGeral();
        SetDialogService(nullptr);
        SetTodayOverride(std::nullopt);
        if (appserver_) appserver_->Stop();
        server_.reset();
        TNetConnection::SetTransportFactory(nullptr);
    }
    // True for a test whose server must be reached by another process: the real appserver.
    virtual bool OverTheWire() const { return false; }

    TCustomForm* Form() const { return host_->ScreenForm(); }
    TQtFormPeer* ScreenPeer() const { return qtHost_->Window().WidgetSet().FormPeer(Form()); }
    // The screen's component of that name and class (a test failure and nullptr when none).
    template <class T> T* Component(const char* name) const {
        T* c = FindOwned<T>(Form(), name);
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    void OpenFromMenu() {
        qtHost_->ScreenAction()->trigger();
        Settle();
    }

    std::unique_ptr<TestDatabase> db_;
    std::unique_ptr<InProcessServer> server_;  // unless OverTheWire
    std::unique_ptr<ServerProcess> appserver_; // when OverTheWire
    std::string address_;
    std::unique_ptr<TTestHost> host_;
    std::unique_ptr<TQtHost> qtHost_;
    TScriptedDialogs dialogs_;
};
