// When the kept password no longer opens a session (changed, or none kept because the server was
// out of reach at start), the host's prompt lets the operator sign in again and the call goes on;
// without a prompt (scripts) the call fails as the server answered.
#include "InProcessServer.h"
#include "ServerHarness.h"

#include "net/Brannox.h"
#include "net/NetConnection.h"

#include <chrono>
#include <thread>

namespace {

const String kOperator = "ana.souza";
const char* const kIncorrect = "Operador ou senha incorretos.";
const char* const kNoSession =
    "Sessão ausente, inválida ou expirada: entre novamente com operador e senha.";

class SignInAgainTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "postgresql" && !std::getenv("KX_TEST_PG"))
            GTEST_SKIP() << "KX_TEST_PG não definido: sem servidor PostgreSQL para os testes";
        db_ = std::make_unique<TestDatabase>(GetParam(), TestDatabase::Init::InProcess);
        TNetConnection::SetTransportFactory(InProcessTransports());
        server_ = std::make_unique<InProcessServer>(db_->Url(), "2026-12-08", 0, true);
        Brannox::SetServer(server_->Address());
        TNetConnection::SetOperator(kOperator);
    }
    void TearDown() override {
        TNetConnection::SetLoginPrompt(nullptr);
        TNetConnection::SetPassword("");
        TNetConnection::SetOperator("");
        TNetConnection::SetTransportFactory(nullptr);
        Brannox::SetServer("");
    }
    std::unique_ptr<TestDatabase> db_;
    std::unique_ptr<InProcessServer> server_;
};
KX_ENGINES(SignInAgainTest);

TEST_P(SignInAgainTest, TheOperatorIsAskedWhenTheKeptPasswordNoLongerWorks) {
    struct Case {
        const char* what;
        const char* newPassword; // given to the operator by the administrator ("": unchanged)
        const char* kept;        // the password the host still holds
        bool prompt;             // the real window (a prompt) or a script (none)
        const char* answer;      // what the operator types ("": gives up)
        int promptMs;            // how long the operator takes
        const char* reason;      // what the prompt is told ("": not asked)
        const char* outcome;
    };
    const Case cases[] = {
        {"senha trocada, e o operador demora mais que a chamada", "senha-nova-22", "senha-antiga-1",
         true, "senha-nova-22", 3500, kIncorrect, "S"},
        {"sem senha guardada", "", "", true, "senha-antiga-1", 0, kNoSession, "S"},
        {"operador desiste", "senha-nova-44", "senha-antiga-1", true, "", 0, kIncorrect,
         kIncorrect},
        {"roteiro", "senha-nova-55", "senha-antiga-1", false, "", 0, "", kIncorrect},
        {"roteiro sem senha", "", "", false, "", 0, "", kNoSession},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AddOperator(db_->Url(), kOperator, "senha-antiga-1");
        TNetConnection::SetPassword("senha-antiga-1");
        TNetConnection c1;
        c1.ServerName = "Kxf27400.rdmParamForne";
        c1.CallTimeout = 3000; // a password check on a loaded machine takes its time
        c1.SetConnected(true);
        ASSERT_TRUE(c1.Connected());
        ASSERT_EQ(c1.Call("GetParamForn", {Variant("000001")})[0].AsString(), "S");

        if (*c.newPassword) AddOperator(db_->Url(), kOperator, c.newPassword);
        TNetConnection::SetPassword(c.kept); // also forgets the session when ""
        std::vector<String> reasons;
        if (c.prompt)
            TNetConnection::SetLoginPrompt([&](const String& reason) {
                reasons.push_back(reason);
                std::this_thread::sleep_for(std::chrono::milliseconds(c.promptMs));
                if (!*c.answer) return false;
                TNetConnection::SetPassword(c.answer);
                String message;
                return TNetConnection::LogIn(message) == TNetConnection::TLoginResult::Ok;
            });
        String outcome;
        try {
            outcome = c1.Call("GetParamForn", {Variant("000001")})[0].AsString();
        } catch (const Exception& e) {
            outcome = e.Message();
        }
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(reasons, *c.reason ? std::vector<String>{c.reason} : std::vector<String>{});
        TNetConnection::SetLoginPrompt(nullptr);
    }
}

} // namespace
