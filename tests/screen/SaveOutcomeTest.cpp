// What the user is told about a save whose answer was lost on the way: the real outcome when
// the server can still be asked, else that it is unknown, and the row reloaded before any new
// change once the server answers again.
#include "ScreenFixture.h"

#include "Showavi.h"
#include "TcpFakes.h"
#include "net/Brannox.h"

#include <chrono>
#include <thread>

namespace {

// The host's timeouts for one test.
struct Timeouts {
    Timeouts(int connectMs, int callMs) { TNetConnection::SetTimeouts(connectMs, callMs); }
    ~Timeouts() { TNetConnection::SetTimeouts(5000, 30000); }
};

} // namespace

// A lost answer and a stalled save are matters of the connection: the real appserver, over TCP.
class SaveOutcomeTest : public ScreenTest {
protected:
    bool OverTheWire() const override { return true; }
};

TEST_F(SaveOutcomeTest, ASaveWhoseAnswerIsLostOnceIsReportedSaved) {
    LossyProxy proxy(ServerPort(), 1);
    Brannox::SetServer("127.0.0.1:" + std::to_string(proxy.Port()));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Load("11222333000181"));
    const String before = Field("IDUTPRIGXML")->AsString();
    ASSERT_TRUE(Click("dckProdIGXML"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_EQ(Dialogs(), std::vector<String>{});
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
    const String after = before == "S" ? "N" : "S";
    EXPECT_EQ(Field("IDUTPRIGXML")->AsString(), after); // reloaded from the server
    EXPECT_EQ(db_->ParamRow("000001")->at("IDUTPRIGXML"), after);
    EXPECT_EQ(db_->LogRows("000001").size(), 1u);
    EXPECT_FALSE(Form()->sbtConfirma->Enabled());
}

TEST_F(SaveOutcomeTest, AnUnknownOutcomeIsToldAndTheRowIsReloadedBeforeTheNextChange) {
    Timeouts timeouts(1000, 1500);
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Load("11222333000181"));
    const String before = Field("IDUTPRIGXML")->AsString();
    const String after = before == "S" ? "N" : "S";
    dialogs_.ClearLog();
    db_->Sql() << "BEGIN IMMEDIATE"; // the server's save waits for this lock
    ASSERT_TRUE(Click("dckProdIGXML"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Click("sbtConfirma"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(Dialogs(), std::vector<String>{"error:" + String(Cli_kxf27400::MsgGravacaoIncerta)});
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
    EXPECT_EQ(Field("IDUTPRIGXML")->AsString(), before); // the pending change is discarded
    EXPECT_FALSE(Showavi::Showing());

    // The lock goes: the waiting save commits after all.
    db_->Sql() << "COMMIT";
    for (int i = 0; i < 100 && db_->ParamRow("000001")->at("IDUTPRIGXML") != after; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(db_->ParamRow("000001")->at("IDUTPRIGXML"), after);

    // The next change first reloads the row and tells why nothing else happened.
    const String simples = Field("IDSIMPLESNACIONAL")->AsString();
    EXPECT_FALSE(Click("dckSimples")); // ended by the silent abort once the row is reloaded
    EXPECT_EQ(Dialogs(), std::vector<String>{"info:" + String(Cli_kxf27400::MsgRecarregado)});
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
    EXPECT_EQ(Field("IDUTPRIGXML")->AsString(), after);
    EXPECT_EQ(Field("IDSIMPLESNACIONAL")->AsString(), simples);
    EXPECT_EQ(Form()->dckProdIGXML->Checked(), after == "S");
    EXPECT_EQ(Form()->dckSimples->Checked(), simples == "S");
    // From then on the edit cycle is the usual one.
    EXPECT_TRUE(Click("dckSimples"));
    EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
    EXPECT_EQ(Dialogs(), std::vector<String>{});
}
