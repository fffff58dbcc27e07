// Only operators with a session may call: logins, sessions, their end, the throttle on guessing,
// the operator commands and the audit's operator.
#include "ServerHarness.h"

#include "Database.h"
#include "LoginThrottle.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace {

const std::string kPassword = "correta-123";

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class AuthTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        AddOperator(db_->Url(), "ana", kPassword);
    }
    std::vector<std::string> ServerArgs() const override {
        return {"--today", "2026-12-08", "--auth", "on"};
    }
    json SaveSimples(const std::string& value, const std::string& forged = "forjado") {
        const json packet = LoadPacket(*client_, "000001");
        return client_->Call("SetParamForn",
                             {UpdateDelta(packet, {{"IDSIMPLESNACIONAL", value}}), false}, forged);
    }
    json Get() { return client_->Call("GetParamForn", {"000001"}); }
    std::string State() {
        return db_->Dump("SELECT * FROM PARAMFORNE") + db_->Dump("SELECT * FROM PARAMFORNELOG");
    }
};

TEST_P(AuthTest, WithoutAValidSessionNothingRunsAndTheAuditNamesTheSignedInOperator) {
    const std::string before = State();
    const json call = {
        {"jsonrpc", "2.0"}, {"id", 7}, {"method", "GetParamForn"}, {"params", {"000001"}}};
    const std::string wrongToken(64, 'a');
    for (const auto& [header, value] : std::vector<std::pair<std::string, std::string>>{
             {"X-Operator", "ana"},
             {"Authorization", "Bearer " + wrongToken},
             {"Authorization", "Bearer "},
             {"Authorization", "Basic YW5hOnNlbmhh"}}) {
        for (const char* verb : {"GET", "POST"}) {
            const HttpResult r =
                client_->Send(verb, "/rpc/Kxf27400.rdmParamForne", call.dump(), {{header, value}});
            EXPECT_EQ(r.status, 401) << verb << " " << header << ": " << value;
            EXPECT_EQ(RpcErrorOf(r.Json())["code"], -32003);
            EXPECT_EQ(
                RpcErrorOf(r.Json())["message"],
                "Sessão ausente, inválida ou expirada: entre novamente com operador e senha.");
        }
    }
    // A save without a session: 401 and not a row touched.
    client_->SetToken(LogIn(*client_, "ana", kPassword));
    const json packet = LoadPacket(*client_, "000001");
    client_->SetToken("");
    const json delta = UpdateDelta(packet, {{"IDSIMPLESNACIONAL", "N"}});
    const HttpResult save = client_->Send(
        "POST", "/rpc/Kxf27400.rdmParamForne",
        json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "SetParamForn"}, {"params", {delta, false}}}
            .dump(),
        {{"X-Operator", "ana"}});
    EXPECT_EQ(save.status, 401);
    EXPECT_EQ(State(), before);

    // Signed in, the forged X-Operator is ignored: the audit names the session's operator.
    client_->SetToken(LogIn(*client_, "ana", kPassword));
    EXPECT_EQ(ResultOf(SaveSimples("N", "forjado")), json::array({"S"}));
    const auto log = db_->LogRows("000001");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("CDOPERADOR"), "ana");
    EXPECT_EQ(Count(State(), "forjado"), 0);
    EXPECT_NE(server_->LogWith("method=SetParamForn operator=ana")
                  .find("method=SetParamForn "
                        "operator=ana"),
              std::string::npos);
    EXPECT_EQ(server_->Log().find("operator=forjado"), std::string::npos);
    // The session endpoint's own description says sessions are required.
    EXPECT_EQ(client_->Send("GET", "/rpc/Sessao", "").Json()["auth"], true);
}

TEST_P(AuthTest, LoginsLogoutsAndTheEndOfSessions) {
    json answer;
    int status = 0;
    // A wrong password and an unknown operator get the same answer.
    for (const auto& [name, password] :
         std::vector<std::pair<std::string, std::string>>{{"ana", "errada-123"},
                                                          {"ninguem", kPassword},
                                                          {"", ""},
                                                          {std::string(41, 'a'), "x"}}) {
        EXPECT_EQ(LogIn(*client_, name, password, &answer, &status), "") << name;
        EXPECT_EQ(status, 401);
        EXPECT_EQ(RpcErrorOf(answer)["message"], "Operador ou senha incorretos.");
    }
    // A name that is no operator's is not logged (it may be a password typed in the wrong box).
    EXPECT_NE(server_->LogWith("method=Login operator=-", 3).find("method=Login operator=ana "),
              std::string::npos);
    EXPECT_EQ(server_->Log().find("ninguem"), std::string::npos);
    EXPECT_NE(server_->Log().find("address=127.0.0.1"), std::string::npos);

    const std::string token = LogIn(*client_, "ana", kPassword, &answer);
    ASSERT_EQ(token.size(), 64u) << answer; // 256 random bits
    EXPECT_EQ(ResultOf(answer)[2], 28800);
    EXPECT_NE(LogIn(*client_, "ana", kPassword), LogIn(*client_, "ana", kPassword))
        << "each login opens its own session";
    client_->SetToken(token);
    EXPECT_EQ(ResultOf(Get())[0], "S");
    // Only the hash of the token is stored.
    EXPECT_EQ(Count(db_->Dump("SELECT * FROM SESSAOOPER"), token), 0);

    // Logout closes that session only.
    const std::string other = LogIn(*client_, "ana", kPassword);
    const HttpResult out = client_->Send(
        "POST", "/rpc/Sessao", R"({"jsonrpc":"2.0","id":1,"method":"Logout","params":[]})");
    EXPECT_EQ(ResultOf(out.Json()), json::array({"S"}));
    EXPECT_EQ(client_->Send("GET", "/rpc/Kxf27400.rdmParamForne", "").status, 401);
    client_->SetToken(other);
    EXPECT_EQ(ResultOf(Get())[0], "S");

    // Disabling the operator ends its sessions at once and refuses its logins.
    const RunResult off = RunAppserver({"operator", "disable", "ana", "--db", db_->Url()});
    ASSERT_EQ(off.exitCode, 0) << off.err;
    EXPECT_EQ(client_->Send("GET", "/rpc/Kxf27400.rdmParamForne", "").status, 401);
    EXPECT_EQ(RpcErrorOf(Get())["code"], -32003);
    EXPECT_EQ(LogIn(*client_, "ana", kPassword, nullptr, &status), "");
    EXPECT_EQ(status, 401);
    // Added again with a new password: enabled, the old password no longer opens a session.
    AddOperator(db_->Url(), "ana", "nova-senha-456");
    EXPECT_EQ(LogIn(*client_, "ana", kPassword), "");
    client_->SetToken(LogIn(*client_, "ana", "nova-senha-456"));
    EXPECT_EQ(ResultOf(Get())[0], "S");
    EXPECT_NE(client_->Send("GET", "/metrics", "").body.find("kx_logins_total{outcome=\"ok\"} 5"),
              std::string::npos);
}

TEST_P(AuthTest, AThousandWrongPasswordsInARowAreThrottled) {
    const auto start = std::chrono::steady_clock::now();
    int checked = 0, throttled = 0;
    json answer;
    for (int i = 0; i < 1000; ++i) {
        int status = 0;
        LogIn(*client_, "ana", "tentativa-" + std::to_string(i), &answer, &status);
        if (status == 401) ++checked;
        if (status == 429) {
            ++throttled;
            EXPECT_EQ(RpcErrorOf(answer)["code"], -32005);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "1000 senhas erradas: " << checked << " verificadas, " << throttled
              << " recusadas pelo limite, " << seconds << " s" << std::endl;
    // The free failures are checked; after them only an attempt that comes after a pause ended
    // is, and the pauses double (1 s, 2 s, ...): a slow machine gets a few more checks.
    EXPECT_GE(checked, LoginThrottle::kFreeFailures);
    EXPECT_LE(checked, LoginThrottle::kFreeFailures + 1 + static_cast<int>(std::log2(1 + seconds)));
    EXPECT_EQ(throttled, 1000 - checked);
    // While throttled even the right password is refused, and another name from the same
    // address too: tried when the pause has at least 2 s left, so it cannot end in between.
    const auto secondsLeft = [](const json& a) {
        const std::string m =
            RpcErrorOf(a)["message"].is_string() ? RpcErrorOf(a)["message"].get<std::string>() : "";
        const size_t at = m.find("aguarde ");
        return at == std::string::npos ? 0 : std::atoi(m.c_str() + at + 8);
    };
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (secondsLeft(answer) < 2 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        LogIn(*client_, "ana", "mais-uma", &answer, &status);
        (status == 429 ? throttled : checked) += 1;
    }
    ASSERT_GE(secondsLeft(answer), 2) << answer;
    EXPECT_EQ(LogIn(*client_, "ana", kPassword, &answer, &status), "");
    EXPECT_EQ(status, 429);
    EXPECT_EQ(LogIn(*client_, "outro", kPassword, nullptr, &status), "");
    EXPECT_EQ(status, 429);
    EXPECT_NE(
        client_->Send("GET", "/metrics", "")
            .body.find("kx_logins_total{outcome=\"throttled\"} " + std::to_string(throttled + 2)),
        std::string::npos);
}

// Every login is counted under the session module's own labels and by its outcome, a login the
// database failed included; the log names only registered operators.
TEST_P(AuthTest, LoginsAreCountedAndLoggedByOutcome) {
    AddOperator(db_->Url(), "bia", kPassword);
    ASSERT_EQ(RunAppserver({"operator", "disable", "bia", "--db", db_->Url()}).exitCode, 0);
    const auto metric = [&](const std::string& series) {
        const std::string body = client_->Send("GET", "/metrics", "").body;
        const size_t at = body.find("\n" + series + " ");
        return at == std::string::npos ? -1 : std::atoi(body.c_str() + at + series.size() + 2);
    };
    const auto login = [](const std::string& outcome) {
        return "kx_logins_total{outcome=\"" + outcome + "\"}";
    };
    const auto calls = [](const std::string& outcome) {
        return "kx_rpc_calls_total{module=\"Sessao\",method=\"Login\",outcome=\"" + outcome + "\"}";
    };
    const std::string typedPassword = "Minh@Senha-Secreta";
    struct Case {
        std::string name, password;
        bool breakDatabase;
        std::string outcome, callOutcome, logged; // the log's operator= value
    };
    const Case cases[] = {
        {"ana", kPassword, false, "ok", "ok", "ana"},
        {"ana", "errada-123", false, "wrong", "unauthorized", "ana"},
        {"bia", kPassword, false, "wrong", "unauthorized", "bia"}, // disabled
        {typedPassword, kPassword, false, "wrong", "unauthorized", "-"},
        {"ana", kPassword, true, "database_error", "database_error", "-"}, // not looked up
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " " + c.outcome);
        const int before = metric(login(c.outcome)), callsBefore = metric(calls(c.callOutcome));
        const size_t linesBefore = Count(server_->Log(), "method=Login ");
        if (c.breakDatabase) db_->Sql() << "ALTER TABLE FALHAENTRADA RENAME TO FALHAENTRADA_X";
        json answer;
        LogIn(*client_, c.name, c.password, &answer);
        if (c.breakDatabase) db_->Sql() << "ALTER TABLE FALHAENTRADA_X RENAME TO FALHAENTRADA";
        EXPECT_EQ(metric(login(c.outcome)), before + 1) << answer;
        EXPECT_EQ(metric(calls(c.callOutcome)), callsBefore + 1);
        const std::string log = server_->LogWith("method=Login ", linesBefore + 1);
        const std::string last = log.substr(log.rfind("method=Login "));
        EXPECT_EQ(last.rfind("method=Login operator=" + c.logged + " ", 0), 0u) << last;
    }
    EXPECT_EQ(server_->Log().find(typedPassword), std::string::npos);
    EXPECT_EQ(metric("kx_rpc_calls_total{module=\"_other\",method=\"_other\",outcome=\"ok\"}"), -1);
}

// Servers of one database count the same failures: spreading guesses over them gains nothing.
TEST_P(AuthTest, FailedLoginsCountAcrossTheServersOfOneDatabase) {
    ServerProcess second(db_->Url(), ServerArgs());
    HttpClient other(second.Port());
    HttpClient* servers[] = {client_.get(), &other};
    int status = 0;
    for (int i = 0; i < LoginThrottle::kFreeFailures; ++i) {
        LogIn(*servers[i % 2], "ana", "errada-" + std::to_string(i), nullptr, &status);
        EXPECT_EQ(status, 401) << i;
    }
    // The fifth failure started a pause that both servers keep, for the name and the address.
    for (HttpClient* server : servers) {
        EXPECT_EQ(LogIn(*server, "ana", kPassword, nullptr, &status), "");
        EXPECT_EQ(status, 429);
        EXPECT_EQ(LogIn(*server, "bia", kPassword, nullptr, &status), "");
        EXPECT_EQ(status, 429);
    }
    EXPECT_EQ(second.Stop(), 0);
}

// A server remembers the sessions it saw, but every call still finds out at once that its
// session ended on another server, whether or not the call reaches the database.
TEST_P(AuthTest, ASessionEndedOnAnotherServerIsRefusedAtOnceByTheServerThatRemembersIt) {
    ServerProcess second(db_->Url(), ServerArgs());
    HttpClient other(second.Port());
    const json valid = {"000001"};
    const json emptyDelta = {{{"fields", json::array()}, {"changes", json::array()}}, false};
    const std::vector<std::pair<std::string, json>> calls = {
        {"GetParamForn", valid},            // reads
        {"SetParamForn", emptyDelta},       // nothing to save: no statement
        {"GetParamForn", json::array({1})}, // refused before any statement
    };
    for (const auto& [method, params] : calls) {
        const std::string token = LogIn(*client_, "ana", kPassword);
        client_->SetToken(token);
        other.SetToken(token);
        ASSERT_EQ(ResultOf(Get())[0], "S") << method; // remembered from here on
        const HttpResult out = other.Send(
            "POST", "/rpc/Sessao", R"({"jsonrpc":"2.0","id":1,"method":"Logout","params":[]})");
        ASSERT_EQ(ResultOf(out.Json()), json::array({"S"}));
        const json answer = client_->Call(method, params);
        EXPECT_EQ(RpcErrorOf(answer)["code"], -32003) << method << " " << params << answer;
    }
    EXPECT_EQ(second.Stop(), 0);
}

KX_ENGINES(AuthTest);

// The pauses, as every server of the database sees them.
class LoginThrottleTest : public ::testing::TestWithParam<std::string> {};

TEST_P(LoginThrottleTest, PausesGrowAfterTheFreeFailuresAndASuccessClearsThem) {
    if (GetParam() == "postgresql" && !std::getenv("KX_TEST_PG"))
        GTEST_SKIP() << "KX_TEST_PG não definido";
    using namespace std::chrono_literals;
    TestDatabase db(GetParam(), TestDatabase::Init::InProcess);
    Database one(db.Url()), two(db.Url());
    LoginThrottle t(one), other(two);
    auto now = LoginThrottle::Clock::now();
    for (int i = 1; i < LoginThrottle::kFreeFailures; ++i) {
        (i % 2 ? t : other).Failed("ana", "10.0.0.1", now);
        EXPECT_EQ(t.Wait("ana", "10.0.0.9", now), 0) << i;
    }
    // The fifth failure blocks for 1 s, each further one doubles it, up to five minutes.
    const long long expected[] = {1, 2, 4, 8, 16, 32, 64, 128, 256, 300, 300};
    for (long long pause : expected) {
        t.Failed("ana", "10.0.0.1", now);
        EXPECT_EQ(other.Wait("ana", "10.0.0.9", now), pause);          // by name
        EXPECT_EQ(other.Wait("bia", "10.0.0.1", now), pause);          // by address
        EXPECT_EQ(other.Wait("bia", "10.0.0.9", now), 0);              // neither
        EXPECT_EQ(other.Wait("ana", "10.0.0.9", now + pause * 1s), 0); // over
    }
    other.Succeeded("ana", "10.0.0.1");
    EXPECT_EQ(t.Wait("ana", "10.0.0.1", now), 0);
    t.Failed("ana", "10.0.0.1", now);
    EXPECT_EQ(t.Wait("ana", "10.0.0.1", now), 0);
    // Names and addresses are stored only as digests.
    EXPECT_EQ(db.Dump("SELECT * FROM FALHAENTRADA").find("ana"), std::string::npos);
    EXPECT_EQ(db.Dump("SELECT * FROM FALHAENTRADA").find("10.0.0.1"), std::string::npos);
}

KX_ENGINES(LoginThrottleTest);

TEST(OperatorCliTest, AddDisableAndListWithTheirRefusals) {
    TestDatabase db("sqlite");
    const auto run = [&](std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.end(), {"--db", db.Url()});
        return RunAppserver(args, {}, input);
    };
    struct Refusal {
        std::vector<std::string> args;
        std::string input;
        int code;
        std::string says;
    };
    const Refusal refusals[] = {
        {{"operator", "add", std::string(41, 'x')}, "senha-boa-1\n", 2, "excede 40 caracteres"},
        {{"operator", "add", " ana"}, "senha-boa-1\n", 2, "espaço"},
        {{"operator", "add", "ana"}, "curta\n", 2, "ao menos 8 caracteres"},
        {{"operator", "add", "ana"}, "", 2, "primeira linha da entrada padrão"},
        {{"operator", "add"}, "", 2, "informe o nome do operador"},
        {{"operator", "remove", "ana"}, "", 2, "subcomando desconhecido"},
        {{"operator", "disable", "ninguem"}, "", 1, "não cadastrado"},
    };
    for (const Refusal& r : refusals) {
        const RunResult out = run(r.args, r.input);
        EXPECT_EQ(out.exitCode, r.code) << r.args[1] << " " << out.err;
        EXPECT_NE(out.err.find(r.says), std::string::npos) << out.err;
    }
    EXPECT_EQ(run({"operator", "list"}).out, "Nenhum operador cadastrado.\n");
    // Only the first line is the password; a 40-character name with accents fits.
    const std::string longName = "José " + std::string(35, 'a');
    ASSERT_EQ(run({"operator", "add", longName}, "senha-boa-1\r\nresto\n").exitCode, 0);
    ASSERT_EQ(run({"operator", "add", "bia"}, "senha-boa-2\n").exitCode, 0);
    ASSERT_EQ(run({"operator", "disable", "bia"}).exitCode, 0);
    const std::string list = run({"operator", "list"}).out;
    EXPECT_NE(list.find(longName + "\tativo\t"), std::string::npos)
        << list << run({"operator", "list"}).err;
    EXPECT_NE(list.find("bia\tdesativado\t"), std::string::npos) << list;
    const std::string hashes = db.Dump("SELECT DSSENHAHASH FROM OPERADOR");
    EXPECT_EQ(Count(hashes, "$argon2id$"), 2) << hashes;
    EXPECT_EQ(Count(hashes, "senha-boa"), 0);

    ServerProcess server(db.Url(), {}, "127.0.0.1:0", {kServerDefaultAuth});
    HttpClient client(server.Port());
    EXPECT_EQ(client.Send("GET", "/rpc/Kxf27400.rdmParamForne", "").status, 401) << "on by default";
    EXPECT_EQ(LogIn(client, longName, "senha-boa-1").size(), 64u);
    server.Stop();

    // Without sessions, only on loopback.
    for (const char* listen : {"0.0.0.0:0", "[::]:0"}) {
        const RunResult open =
            RunAppserver({"serve", "--db", db.Url(), "--listen", listen, "--auth", "off"});
        EXPECT_EQ(open.exitCode, 2);
        EXPECT_NE(open.err.find("--auth off só é aceito"), std::string::npos) << open.err;
    }
    EXPECT_EQ(RunAppserver({"serve", "--db", db.Url(), "--auth", "talvez"}).exitCode, 2);
}

} // namespace
