// The server run in the test's own process, which most screen tests reach instead of a real
// appserver: what a TNetConnection gets from it must be what it gets over TCP.
#include "InProcessServer.h"
#include "ServerHarness.h"

#include "net/NetConnection.h"

namespace {

const char* kModule = "Kxf27400.rdmParamForne";

// What one step gave: "ok:<result>" or "erro:<message>".
String Outcome(const std::function<Variant()>& call) {
    try {
        return "ok:" + call().ToJson().dump();
    } catch (const Exception& e) {
        return "erro:" + e.Message();
    }
}

// A conversation of the screen with the server: the module check, loads, a save, its conflict,
// refused values and calls. Each step's outcome, the port replaced by "PORTA".
std::vector<String> Conversation(int port) {
    TNetConnection c;
    c.ServerName = kModule;
    c.Host = "127.0.0.1";
    c.Port = port;
    std::vector<String> out;
    TNetConnection other;
    other.ServerName = "Kxf99999.rdmOutro";
    other.Host = "127.0.0.1";
    other.Port = port;
    out.push_back(Outcome([&] {
        other.SetConnected(true);
        return Variant(other.Connected());
    }));
    c.SetConnected(true);
    const Variant found = c.Call("GetParamForn", {Variant("000001")});
    out.push_back(Outcome([&] { return found; }));
    out.push_back(Outcome([&] { return c.Call("GetParamForn", {Variant("999999")}); }));
    const json packet = found[1].AsJson();
    TNetConnection::SetOperator("Ana Lúcia");
    for (const json& values : {json{{"IDUTPRIGXML", "S"}}, json{{"IDUTPRIGXML", "S"}},
                               json{{"IDSIMPLESNACIONAL", "X"}}, json{{"NRDIASBLOQNFFOR", -1}}})
        out.push_back(Outcome([&] {
            return c.Call("SetParamForn",
                          {Variant::Json(UpdateDelta(packet, values)), Variant(false)});
        }));
    TNetConnection::SetOperator("");
    out.push_back(Outcome([&] { return c.Call("Apagar", {}); }));
    out.push_back(Outcome([&] { return c.Call("GetParamForn", {Variant(1)}); }));
    out.push_back(Outcome([&] { return Variant(c.Connected()); }));
    for (String& s : out)
        for (size_t at; (at = s.find(std::to_string(port))) != String::npos;)
            s.replace(at, std::to_string(port).size(), "PORTA");
    return out;
}

class InProcessServerTest : public ::testing::Test {
protected:
    void SetUp() override { TNetConnection::SetTransportFactory(InProcessTransports()); }
    void TearDown() override { TNetConnection::SetTransportFactory(nullptr); }
};

} // namespace

TEST_F(InProcessServerTest, AnswersAsTheRealServerDoes) {
    TestDatabase wireDb("sqlite"), localDb("sqlite", TestDatabase::Init::InProcess);
    ServerProcess appserver(wireDb.Url(), {"--today", "2026-12-08"});
    InProcessServer local(localDb.Url(), "2026-12-08");
    const std::vector<String> overTcp = Conversation(appserver.Port());
    const std::vector<String> inProcess = Conversation(local.Port());
    EXPECT_EQ(inProcess, overTcp);
    // The conversation reaches what it is meant to: a save, a conflict and refusals.
    ASSERT_EQ(overTcp.size(), 10u);
    EXPECT_EQ(overTcp[0], "erro:O servidor de aplicação 127.0.0.1:PORTA não oferece o módulo "
                          "Kxf99999.rdmOutro.");
    EXPECT_EQ(overTcp[3].rfind("ok:[\"S\"", 0), 0u) << overTcp[3];
    for (size_t i : {4, 5, 6, 7, 8})
        EXPECT_EQ(overTcp[i].rfind("erro:", 0), 0u) << overTcp[i];
    const auto wireLog = wireDb.LogRows("000001"), localLog = localDb.LogRows("000001");
    ASSERT_EQ(localLog.size(), 1u);
    ASSERT_EQ(wireLog.size(), 1u);
    EXPECT_EQ(localLog[0].at("CDOPERADOR"), "Ana Lúcia");
    EXPECT_EQ(localLog[0].at("CDOPERADOR"), wireLog[0].at("CDOPERADOR"));
    EXPECT_EQ(appserver.Stop(), 0) << appserver.Log();
}

// A request sent again with its key gets the stored answer; the save is applied once.
TEST_F(InProcessServerTest, ARepeatedKeyIsAppliedOnce) {
    TestDatabase db("sqlite", TestDatabase::Init::InProcess);
    InProcessServer server(db.Url());
    const auto transport = InProcessTransports()("127.0.0.1", server.Port());
    ASSERT_NE(transport, nullptr);
    const auto deadline = TNetTransport::Clock::now() + std::chrono::seconds(30);
    transport->Open(deadline, 1000);
    const json get = {
        {"jsonrpc", "2.0"}, {"id", 1}, {"method", "GetParamForn"}, {"params", {"000001"}}};
    const TNetAnswer loaded =
        transport->Exchange({true, "/rpc/" + String(kModule), get.dump(), "", "", ""}, deadline);
    ASSERT_EQ(loaded.status, 200u) << loaded.body;
    const json delta = UpdateDelta(json::parse(loaded.body)["result"][1], {{"IDUTPRIGXML", "S"}});
    const json save = {
        {"jsonrpc", "2.0"}, {"id", 2}, {"method", "SetParamForn"}, {"params", {delta, false}}};
    const TNetRequest request{true, "/rpc/" + String(kModule), save.dump(), "", "chave-1", ""};
    const TNetAnswer first = transport->Exchange(request, deadline);
    const TNetAnswer again = transport->Exchange(request, deadline);
    EXPECT_EQ(first.status, 200u);
    EXPECT_EQ(json::parse(first.body)["result"][0], "S") << first.body;
    EXPECT_EQ(again.body, first.body);
    EXPECT_EQ(db.LogRows("000001").size(), 1u);
}

// Stopped, it lets its port go: what connects there next is refused over TCP, as by a stopped
// appserver; started again on that port, it is reached again.
TEST_F(InProcessServerTest, AStoppedServerIsRefusedUntilStartedAgain) {
    TestDatabase db("sqlite", TestDatabase::Init::InProcess);
    auto server = std::make_unique<InProcessServer>(db.Url());
    const int port = server->Port();
    EXPECT_EQ(InProcessTransports()("10.0.0.1", port), nullptr); // another host: TCP
    TNetConnection c;
    c.ServerName = kModule;
    c.Host = "127.0.0.1";
    c.Port = port;
    c.CallTimeout = 400; // the refusal is asked again only within it
    c.SetConnected(true);
    EXPECT_EQ(c.Call("GetParamForn", {Variant("000001")})[0].AsString(), "S");
    server->Stop();
    EXPECT_FALSE(server->Running());
    EXPECT_EQ(Outcome([&] { return c.Call("GetParamForn", {Variant("000001")}); }),
              "erro:Não foi possível conectar ao servidor de aplicação 127.0.0.1:" +
                  std::to_string(port) + ": conexão recusada.");
    server = std::make_unique<InProcessServer>(db.Url(), "2026-12-08", port);
    EXPECT_EQ(c.Call("GetParamForn", {Variant("000001")})[0].AsString(), "S");
}

// With sessions required, the session check is the real server's: refused without a password,
// one sign-in then reused, and a session another server does not know signed in again once.
TEST_F(InProcessServerTest, SessionsAreCheckedAsByTheRealServer) {
    const String name = "ana.souza", password = "senha-da-ana-1";
    TestDatabase wireDb("sqlite"), localDb("sqlite", TestDatabase::Init::InProcess);
    AddOperator(wireDb.Url(), name, password);
    AddOperator(localDb.Url(), name, password);
    ServerProcess appserver(wireDb.Url(), {"--today", "2026-12-08", "--auth", "on"});
    InProcessServer local(localDb.Url(), "2026-12-08", 0, true);
    TNetConnection::SetOperator(name);
    const auto steps = [&](int port) {
        TNetConnection c;
        c.ServerName = kModule;
        c.Host = "127.0.0.1";
        c.Port = port;
        c.CallTimeout = 2000;
        std::vector<String> out;
        TNetConnection::SetPassword("");
        out.push_back(Outcome([&] {
            c.SetConnected(true);
            return Variant(c.Connected());
        }));
        TNetConnection::SetPassword(password);
        c.SetConnected(true);
        const Variant found = c.Call("GetParamForn", {Variant("000001")});
        const String token = TNetConnection::SessionToken();
        out.push_back(found[0].AsString() + (token.empty() ? " sem sessão" : " com sessão"));
        const json delta = UpdateDelta(found[1].AsJson(), {{"IDUTPRIGXML", "S"}});
        out.push_back(Outcome([&] {
            return c.Call("SetParamForn", {Variant::Json(delta), Variant(false)});
        }));
        out.push_back(TNetConnection::SessionToken() == token ? "mesma sessão" : "sessão nova");
        for (String& s : out)
            for (size_t at; (at = s.find(std::to_string(port))) != String::npos;)
                s.replace(at, std::to_string(port).size(), "PORTA");
        return out;
    };
    const std::vector<String> overTcp = steps(appserver.Port());
    EXPECT_EQ(steps(local.Port()), overTcp);
    EXPECT_EQ(overTcp, (std::vector<String>{
                           "erro:O servidor de aplicação 127.0.0.1:PORTA exige a entrada do "
                           "operador: entre de novo com operador e senha.",
                           "S com sessão", "ok:[\"S\"]", "mesma sessão"}));
    EXPECT_EQ(localDb.LogRows("000001").at(0).at("CDOPERADOR"), name);

    // The in-process session is unknown to appserver: one sign-in there, and the call goes on.
    const String localToken = TNetConnection::SessionToken();
    TNetConnection c;
    c.ServerName = kModule;
    c.Host = "127.0.0.1";
    c.Port = appserver.Port();
    c.SetConnected(true);
    EXPECT_EQ(c.Call("GetParamForn", {Variant("000001")})[0].AsString(), "S");
    EXPECT_NE(TNetConnection::SessionToken(), localToken);
    TNetConnection::SetPassword("");
    TNetConnection::SetOperator("");
    EXPECT_EQ(appserver.Stop(), 0) << appserver.Log();
}
