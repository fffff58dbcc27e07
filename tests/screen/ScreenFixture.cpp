#include "ScreenFixture.h"

#include "db/DBGeral.h"
#include "net/Brannox.h"
#include "net/NetConnection.h"
#include "rtl/DateUtils.h"

#include <cstdlib>

namespace {
void EnsureMainForm() {
    if (Application->MainForm()) return;
    TForm* main = nullptr;
    Application->CreateForm(main);
    main->SetName("frmPrincipal");
    main->SetFormStyle(fsMDIForm);
}
} // namespace

void ScreenTest::SetUp() {
    EnsureMainForm();
    db_ = std::make_unique<TestDatabase>(Engine(), OverTheWire() ? TestDatabase::Init::ByAppserver
                                                                 : TestDatabase::Init::InProcess);
    TNetConnection::SetTransportFactory(InProcessTransports());
    StartServer(0);
    OpenDtmDBGeral(db_->Url());
    Brannox::SetServer("127.0.0.1:" + std::to_string(ServerPort()));
    SetTodayOverride(EncodeDate(2026, 12, 8));
    SetDialogService(&dialogs_);
    Initialize();
}

void ScreenEngineTest::SetUp() {
    if (GetParam() == "postgresql" && !std::getenv("KX_TEST_PG"))
        GTEST_SKIP() << "KX_TEST_PG não definido: sem servidor PostgreSQL para os testes";
    ScreenTest::SetUp();
}

void ScreenTest::TearDown() {
    if (Cli_kxf27400::boStCriado && Form()) {
        TCustomForm* f = Form();
        RunEvent([f] { f->Close(); });
        if (Cli_kxf27400::boStCriado) delete f;
    }
    Application->ProcessMessages();
    Finalize();
    CloseDtmDBGeral();
    SetDialogService(nullptr);
    SetTodayOverride(std::nullopt);
    StopServer();
    TNetConnection::SetTransportFactory(nullptr);
}

void ScreenTest::StartServer(int port) {
    const std::string today = "2026-12-08";
    if (OverTheWire())
        appserver_ =
            std::make_unique<ServerProcess>(db_->Url(), std::vector<std::string>{"--today", today},
                                            "127.0.0.1:" + std::to_string(port));
    else
        server_ = std::make_unique<InProcessServer>(db_->Url(), today, port);
}

int ScreenTest::ServerPort() const {
    if (OverTheWire()) return appserver_ ? appserver_->Port() : 0;
    return server_ ? server_->Port() : 0;
}

void ScreenTest::StopServer() {
    if (appserver_) appserver_->Stop();
    if (server_) server_->Stop();
}

void ScreenTest::RestartServer() {
    const int port = ServerPort();
    StopServer();
    StartServer(port);
}

bool ScreenTest::Open() {
    return RunEvent([] { IniProc(); });
}

bool ScreenTest::CloseScreen() {
    return UserInput::Close(Form());
}

bool ScreenTest::Focus(const char* control) {
    return UserInput::Focus(Component<TWinControl>(control));
}

bool ScreenTest::Type(const char* control, const String& text) {
    return UserInput::TypeText(Component<TCustomEdit>(control), text);
}

bool ScreenTest::Clear(const char* control) {
    return UserInput::ClearText(Component<TCustomEdit>(control));
}

bool ScreenTest::Key(const char* control, Char key) {
    auto* w = Component<TWinControl>(control);
    if (!w->Focused() && !UserInput::Focus(w)) return false;
    return UserInput::Key(w, key);
}

bool ScreenTest::Click(const char* control) {
    return UserInput::Click(Component<TControl>(control));
}

bool ScreenTest::Tab(bool back) {
    return UserInput::Tab(Form(), back);
}

bool ScreenTest::Load(const String& inscricao) {
    if (!Clear("medNrInsJurNF")) return false;
    if (!Type("medNrInsJurNF", inscricao)) return false;
    return Tab();
}

std::vector<String> ScreenTest::Dialogs() {
    std::vector<String> out;
    for (const auto& d : dialogs_.dialogs)
        out.push_back(d.kind + ":" + d.text);
    dialogs_.dialogs.clear();
    return out;
}
