// hostapp against a server that wants sessions: the password from KX_PASSWORD, a wrong one that
// stops before the screen, and a session that ends and is opened again without a word.
#include "E2eFixture.h"

#include <chrono>
#include <thread>

namespace {

const std::string kPassword = "senha-da-ana-1";

class SignInTest : public E2eTest {
protected:
    void SetUp() override {
        if (GetParam() == "postgresql" && !std::getenv("KX_TEST_PG"))
            GTEST_SKIP() << "KX_TEST_PG não definido: sem servidor PostgreSQL para os testes";
        db_ = std::make_unique<TestDatabase>(GetParam());
        AddOperator(db_->Url(), kOperator, kPassword);
        server_ = std::make_unique<ServerProcess>(
            db_->Url(), std::vector<std::string>{"--today", "2026-12-08", "--auth", "on",
                                                 "--session-ttl", "2"});
    }
    void StartWith(const std::string& password) {
        std::vector<std::string> args = BaseArgs();
        args.insert(args.end(), {"--script", "-"});
        host_ = std::make_unique<HostappProcess>(
            args, std::map<std::string, std::string>{{"KX_PASSWORD", password}});
    }
};

TEST_P(SignInTest, ThePasswordFromTheEnvironmentSignsInAndAnEndedSessionIsReopenedSilently) {
    StartWith(kPassword);
    OpenAndLoad("11222333000181");
    Ok({{"do", "click"}, {"control", "dckSimples"}});
    const json save = Ok({{"do", "click"}, {"control", "sbtConfirma"}});
    EXPECT_EQ(DialogTexts(save), std::vector<std::string>{});
    const auto log = db_->LogRows("000001");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("CDOPERADOR"), kOperator);

    // The session lasts 2 s: the next load signs in again by itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const json again = Load("45782163000101");
    EXPECT_EQ(DialogTexts(again), std::vector<std::string>{});
    EXPECT_EQ(State()["record"]["fields"]["CDFORNECED"], "000002");
    const std::string serverLog = server_->LogWith("method=Login", 2);
    size_t logins = 0;
    for (size_t at = serverLog.find("method=Login"); at != std::string::npos;
         at = serverLog.find("method=Login", at + 1))
        ++logins;
    EXPECT_EQ(logins, 2u) << serverLog;
    EXPECT_NE(serverLog.find("outcome=unauthorized"), std::string::npos);
}

TEST_P(SignInTest, AWrongPasswordStopsBeforeTheScreen) {
    StartWith("errada-000");
    EXPECT_EQ(host_->Finish(), 1);
    EXPECT_NE(host_->Stderr().find("Operador ou senha incorretos."), std::string::npos)
        << host_->Stderr();
    EXPECT_TRUE(host_->RemainingLines().empty());
    host_.reset();
}

KX_E2E_ENGINES(SignInTest);

} // namespace
