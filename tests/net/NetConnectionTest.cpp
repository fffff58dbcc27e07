// TNetConnection against the real appserver, and the host's server address.
#include "ServerHarness.h"

#include "TcpFakes.h"
#include "net/Brannox.h"
#include "net/NetConnection.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

const char* kModule = "Kxf27400.rdmParamForne";

// A loopback port with nothing listening on it.
int ClosedPort() {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor a(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    return a.local_endpoint().port();
}

String MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(nenhuma exceção)";
}

json PacketOf(const Variant& answer) {
    return answer[1].AsJson();
}

class NetConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<TestDatabase>("sqlite");
        Start();
    }
    void TearDown() override {
        TNetConnection::SetOperator("");
        if (server_) {
            EXPECT_EQ(server_->Stop(), 0) << server_->Log();
        }
    }
    void Start(const std::vector<std::string>& args = {},
               const std::string& listen = "127.0.0.1:0") {
        server_ = std::make_unique<ServerProcess>(db_->Url(), args, listen);
    }
    void Connect(TNetConnection& c) {
        c.ServerName = kModule;
        c.Host = "127.0.0.1";
        c.Port = server_->Port();
        c.SetConnected(true);
    }

    std::unique_ptr<TestDatabase> db_;
    std::unique_ptr<ServerProcess> server_;
};

} // namespace

TEST_F(NetConnectionTest, ConnectRunsBeforeConnectAndChecksTheModule) {
    TNetConnection c;
    c.ServerName = kModule;
    int calls = 0;
    c.BeforeConnect = [&](TNetConnection* sender) {
        ++calls;
        EXPECT_EQ(sender, &c);
        sender->Host = "127.0.0.1"; // the screen takes the address here
        sender->Port = server_->Port();
    };
    c.SetConnected(true);
    EXPECT_TRUE(c.Connected());
    c.SetConnected(true); // already connected: nothing to do
    EXPECT_EQ(calls, 1);
    c.SetConnected(false);
    EXPECT_FALSE(c.Connected());
    EXPECT_NE(MessageOf([&] {
                  c.Call("GetParamForn", {"000001"});
              }).find("Não foi possível conectar ao servidor de aplicação 127.0.0.1:"),
              String::npos);
}

TEST_F(NetConnectionTest, UnknownModuleAndUnreachableServer) {
    struct Case {
        String module;
        int port;
        String message;
    };
    const int closed = ClosedPort();
    const std::vector<Case> cases = {
        {"Kxf99999.rdmOutro", server_->Port(), "não oferece o módulo Kxf99999.rdmOutro"},
        {kModule, closed,
         "Não foi possível conectar ao servidor de aplicação 127.0.0.1:" + std::to_string(closed) +
             ": conexão recusada."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.message);
        TNetConnection quiet;
        quiet.ServerName = k.module;
        quiet.Host = "127.0.0.1";
        quiet.Port = k.port;
        quiet.ThrowException = false;
        EXPECT_NO_THROW(quiet.SetConnected(true));
        EXPECT_FALSE(quiet.Connected());

        TNetConnection loud;
        loud.ServerName = k.module;
        loud.Host = "127.0.0.1";
        loud.Port = k.port;
        EXPECT_NE(MessageOf([&] { loud.SetConnected(true); }).find(k.message), String::npos)
            << MessageOf([&] { loud.SetConnected(true); });
        EXPECT_FALSE(loud.Connected());
    }
}

TEST_F(NetConnectionTest, CallsAnswerTheServerForms) {
    TNetConnection c;
    Connect(c);
    const Variant found = c.Call("GetParamForn", {Variant("000001")});
    ASSERT_TRUE(found.IsArray());
    EXPECT_EQ(found[0].AsString(), "S");
    EXPECT_EQ(PacketOf(found)["rows"][0][0], "000001");
    EXPECT_EQ(found[2].AsString(), DateToStr(Date()));
    const Variant missing = c.Call("GetParamForn", {Variant("999999")});
    EXPECT_EQ(missing[0].AsString(), "N");
    EXPECT_EQ(missing[1].AsString(), "Fornecedor não cadastrado.");

    // A save, then the same save again: the conflict text comes as the server wrote it.
    const json delta = UpdateDelta(PacketOf(found), {{"IDUTPRIGXML", "S"}});
    TNetConnection::SetOperator("Ana Lúcia");
    const Variant saved = c.Call("SetParamForn", {Variant::Json(delta), Variant(false)});
    EXPECT_EQ(saved[0].AsString(), "S");
    EXPECT_EQ(db_->LogRows("000001").back().at("CDOPERADOR"), "Ana Lúcia");
    EXPECT_EQ(MessageOf([&] {
                  c.Call("SetParamForn", {Variant::Json(delta), Variant(false)});
              }),
              "Registro alterado por outro usuário. Recarregue o fornecedor e repita a alteração.");
    EXPECT_NE(MessageOf([&] { c.Call("Apagar", {}); }).find("Método Apagar não existe"),
              String::npos);
    EXPECT_NE(MessageOf([&] { c.Call("GetParamForn", {Variant(1)}); }).find("GetParamForn espera"),
              String::npos);
    EXPECT_TRUE(c.Connected()); // refusals keep the connection

    // An operator name never carries a header or a request of its own.
    TNetConnection::SetOperator("Ana\r\nIdempotency-Key: x");
    EXPECT_EQ(MessageOf([&] { c.Call("GetParamForn", {Variant("000001")}); }),
              "O nome do operador contém quebra de linha ou caractere nulo.");
    TNetConnection::SetOperator("");
    EXPECT_EQ(c.Call("GetParamForn", {Variant("000001")})[0].AsString(), "S");
}

TEST_F(NetConnectionTest, ConnectionClosedWhileIdleIsReopened) {
    server_->Stop();
    Start({"--idle-timeout", "1"});
    TNetConnection c;
    Connect(c);
    EXPECT_EQ(c.Call("GetParamForn", {Variant("000001")})[0].AsString(), "S");
    std::this_thread::sleep_for(std::chrono::milliseconds(1800));
    EXPECT_EQ(c.Call("GetParamForn", {Variant("000001")})[0].AsString(), "S");
    EXPECT_TRUE(c.Connected());
}

TEST_F(NetConnectionTest, AScreenOpenedWhileTheServerWasDownReachesItOnTheNextCall) {
    const int port = server_->Port();
    ASSERT_EQ(server_->Stop(), 0);
    TNetConnection c;
    c.ThrowException = false;
    c.ServerName = kModule;
    c.Host = "127.0.0.1";
    c.Port = port;
    c.SetConnected(true);
    EXPECT_FALSE(c.Connected());
    Start({}, "127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(c.Call("GetParamForn", {Variant("000001")})[0].AsString(), "S");
    EXPECT_TRUE(c.Connected());
}

// The answer of a save is lost once after the commit: the call is sent again with the same
// key and gets the stored answer; nothing is applied twice.
TEST_F(NetConnectionTest, ALostAnswerIsAskedAgainWithTheSameKey) {
    LossyProxy proxy(server_->Port(), 1);
    TNetConnection c;
    c.ServerName = kModule;
    c.Host = "127.0.0.1";
    c.Port = proxy.Port();
    c.SetConnected(true);
    const json delta =
        UpdateDelta(PacketOf(c.Call("GetParamForn", {Variant("000001")})), {{"IDUTPRIGXML", "S"}});
    EXPECT_EQ(c.Call("SetParamForn", {Variant::Json(delta), Variant(false)})[0].AsString(), "S");
    EXPECT_EQ(db_->LogRows("000001").size(), 1u);
    const auto keys = proxy.Keys();
    ASSERT_EQ(keys.size(), 3u); // GetParamForn, the save, its repetition
    EXPECT_EQ(keys[1], keys[2]);
    EXPECT_EQ(keys[1].size(), 32u);
    EXPECT_NE(keys[0], keys[1]); // one key per call
}

// A gateway in front of the server passes a save on and answers an error of its own: the save
// is sent again with its key and applied once; one that stays unanswered is of unknown outcome,
// never a failure. The server's own JSON-RPC error behind a 5xx is its answer.
TEST_F(NetConnectionTest, AGatewayErrorAfterASaveIsRepeatedNotAFailure) {
    const String page = "<html><body>Bad gateway</body></html>";
    const String ours =
        R"({"jsonrpc":"2.0","id":null,"error":{"code":-32603,"message":"Erro do servidor."}})";
    struct Case {
        const char* what;
        String instead;      // the gateway's answer to the lost saves ("" closes the connection)
        int lost;            // saves whose answer the gateway replaces
        const char* outcome; // "S", "unknown" or the message of a failure
        size_t posts;        // the save's deliveries
    };
    const std::vector<Case> cases = {
        {"500 page", HttpAnswer(500, page), 1, "S", 2},
        {"503 page", HttpAnswer(503, page), 1, "S", 2},
        {"502 page", HttpAnswer(502, page), 1, "S", 2},
        {"closed", "", 1, "S", 2},
        {"always 500", HttpAnswer(500, page), 100, "unknown", 5},
        {"our own 500", HttpAnswer(500, ours), 100, "Erro do servidor.", 1},
    };
    int n = 0;
    for (const Case& k : cases) {
        const std::string code = "00000" + std::to_string(++n);
        LossyProxy proxy(server_->Port(), k.lost, k.instead);
        TNetConnection c;
        c.ServerName = kModule;
        c.Host = "127.0.0.1";
        c.Port = proxy.Port();
        c.CallTimeout = 4000;
        c.SetConnected(true);
        const json delta =
            UpdateDelta(PacketOf(c.Call("GetParamForn", {Variant(code)})), {{"IDUTPRIGXML", "S"}});
        String outcome;
        try {
            outcome = c.Call("SetParamForn", {Variant::Json(delta), Variant(false)})[0].AsString();
        } catch (const ENetOutcomeUnknown&) {
            outcome = "unknown";
        } catch (const Exception& e) {
            outcome = e.Message();
        }
        EXPECT_EQ(outcome, k.outcome) << k.what;
        EXPECT_EQ(db_->LogRows(code).size(), 1u) << k.what << ": applied once";
        const auto keys = proxy.Keys();
        ASSERT_EQ(keys.size(), 1 + k.posts) << k.what;
        EXPECT_EQ(std::count(keys.begin() + 1, keys.end(), keys[1]), static_cast<long>(k.posts))
            << k.what << ": one key";
    }
}

TEST_F(NetConnectionTest, AStalledServerFailsWithinTheCallTimeout) {
    FakeServer stalled([](int fd) {
        for (;;) {
            const std::string request = ReadHttpMessage(fd);
            if (request.empty()) return;
            if (request.rfind("GET", 0) == 0)
                WriteAll(fd, HttpAnswer(200, R"({"module":"m","methods":[]})"));
            // a POST is never answered
        }
    });
    TNetConnection c;
    c.ServerName = kModule;
    c.Host = "127.0.0.1";
    c.Port = stalled.Port();
    c.CallTimeout = 1200;
    c.SetConnected(true);
    const auto start = std::chrono::steady_clock::now();
    String message;
    try {
        c.Call("SetParamForn", {Variant(1)});
    } catch (const ENetOutcomeUnknown& e) {
        message = e.Message();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1150));
    EXPECT_LT(took, std::chrono::milliseconds(1700));
    EXPECT_EQ(message, "O servidor de aplicação 127.0.0.1:" + std::to_string(stalled.Port()) +
                           " não respondeu dentro do tempo limite.");
}

// Answers the client must not take: too large (whatever the framing), or with a status other
// than 2xx whatever the body says.
TEST_F(NetConnectionTest, OversizedAnswersAndFailureStatusesAreRefused) {
    struct Case {
        const char* what;
        std::function<size_t(int fd, const std::string& id)> answer;
        const char* message;
    };
    const std::string huge(1 << 20, ' ');
    auto stream = [&](int fd, const std::string& head, bool chunked) {
        size_t sent = WriteAll(fd, head);
        for (int i = 0; i < 80; ++i) {
            const std::string piece = chunked ? "100000\r\n" + huge + "\r\n" : huge; // 1 MiB chunks
            const size_t n = WriteAll(fd, piece);
            sent += n;
            if (n < piece.size()) break;
        }
        return sent;
    };
    const std::vector<Case> cases = {
        {"length",
         [&](int fd, const std::string&) {
             return stream(fd, "HTTP/1.1 200 OK\r\nContent-Length: 83886080\r\n\r\n", false);
         },
         "maior que o limite de 64 MiB"},
        {"chunked",
         [&](int fd, const std::string&) {
             return stream(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", true);
         },
         "maior que o limite de 64 MiB"},
        {"until close",
         [&](int fd, const std::string&) {
             return stream(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", false);
         },
         "maior que o limite de 64 MiB"},
        {"500 with a result",
         [&](int fd, const std::string& id) {
             return WriteAll(
                 fd, HttpAnswer(500, R"({"jsonrpc":"2.0","id":)" + id + R"(,"result":["S"]})"));
         },
         "respondeu HTTP 500."},
        {"404 with an error",
         [&](int fd, const std::string& id) {
             return WriteAll(
                 fd, HttpAnswer(404, R"({"jsonrpc":"2.0","id":)" + id +
                                         R"(,"error":{"code":-32601,"message":"Sem módulo."}})"));
         },
         "Sem módulo."},
    };
    for (const Case& k : cases) {
        std::atomic<size_t> sent{0};
        std::atomic<int> posts{0};
        {
            FakeServer fake([&](int fd) {
                for (;;) {
                    const std::string request = ReadHttpMessage(fd);
                    if (request.empty()) return;
                    if (request.rfind("GET", 0) == 0) {
                        WriteAll(fd, HttpAnswer(200, "{}"));
                        continue;
                    }
                    ++posts;
                    const auto body = json::parse(request.substr(request.find("\r\n\r\n") + 4));
                    sent += k.answer(fd, body["id"].dump());
                    shutdown(fd, SHUT_WR);
                    return;
                }
            });
            TNetConnection c;
            c.ServerName = kModule;
            c.Host = "127.0.0.1";
            c.Port = fake.Port();
            c.SetConnected(true);
            const auto start = std::chrono::steady_clock::now();
            const String message = MessageOf([&] { c.Call("GetParamForn", {Variant("1")}); });
            EXPECT_NE(message.find(k.message), String::npos) << k.what << ": " << message;
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << k.what;
        }
        EXPECT_LT(sent.load(), size_t(72) << 20) << k.what; // reading stopped at the limit
        EXPECT_GE(posts.load(), 1) << k.what;
    }
}

// One kept connection carries answers of any size one after another, each read whole into the
// storage the previous one left (a large one gives it back), an answer whose body comes a while
// after its head included; each request is the JSON-RPC object as the JSON library writes it.
TEST_F(NetConnectionTest, AnswersOfAnySizeFollowEachOtherOnOneConnection) {
    struct Case {
        const char* what;
        json result;
        bool paused; // the body comes 100 ms after the head
    };
    const std::vector<Case> cases = {
        {"long", {"S", {{"rows", {{std::string(300000, 'x')}}}}}, false},
        {"short", {"S"}, false},
        {"paused", {"S", "depois"}, true},
        {"medium", {"S", std::string(3000, 'y'), "08/12/2026"}, false},
        {"short again", {"N", "Não"}, false},
    };
    // A plain name, and one the JSON library escapes.
    const char* methods[] = {"GetParamForn", "Get\\Param\"Forn"};
    std::mutex mutex;
    std::vector<std::string> bodies;
    std::atomic<int> connections{0};
    FakeServer fake([&](int fd) {
        ++connections;
        for (size_t next = 0;;) {
            const std::string request = ReadHttpMessage(fd);
            if (request.empty()) return;
            const std::string body = request.substr(request.find("\r\n\r\n") + 4);
            if (request.rfind("GET", 0) == 0) {
                WriteAll(fd, HttpAnswer(200, "{}"));
                continue;
            }
            {
                std::lock_guard lock(mutex);
                bodies.push_back(body);
            }
            const Case& k = cases[next++ % cases.size()];
            const std::string answer = HttpAnswer(
                200, json{{"jsonrpc", "2.0"}, {"id", json::parse(body)["id"]}, {"result", k.result}}
                         .dump());
            const size_t head = k.paused ? answer.find("\r\n\r\n") + 4 : answer.size();
            WriteAll(fd, answer.substr(0, head));
            if (head < answer.size()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                WriteAll(fd, answer.substr(head));
            }
        }
    });
    TNetConnection c;
    c.ServerName = kModule;
    c.Host = "127.0.0.1";
    c.Port = fake.Port();
    c.SetConnected(true);
    const std::vector<Variant> args = {
        Variant("Ação \"x\"\n"),
        Variant(1.5),
        Variant::Null(),
        Variant::Json({{"b", 1}, {"a", {true}}}),
        Variant(TDateTime(46000.5)),
        Variant::Array({Variant(-9000000000LL), Variant(false), Variant::Json(json::array())})};
    // An argument the wire cannot carry fails before anything is sent or an id is taken.
    EXPECT_THROW(c.Call(methods[0], {Variant(std::nan(""))}), EConvertError);
    EXPECT_THROW(c.Call(methods[0], {Variant::Json({{"a", "\xC3("}})}), json::type_error);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Variant answer = c.Call(methods[i % 2], args);
        EXPECT_EQ(answer.ToJson(), cases[i].result) << cases[i].what;
    }
    EXPECT_EQ(connections.load(), 1);
    json params = json::array();
    for (const Variant& a : args)
        params.push_back(a.ToJson());
    std::lock_guard lock(mutex);
    ASSERT_EQ(bodies.size(), cases.size());
    for (size_t i = 0; i < bodies.size(); ++i)
        EXPECT_EQ(
            bodies[i],
            json(
                {{"jsonrpc", "2.0"}, {"id", i + 1}, {"method", methods[i % 2]}, {"params", params}})
                .dump());
}

TEST_F(NetConnectionTest, ServerRestartBetweenCalls) {
    TNetConnection c;
    Connect(c);
    const int port = server_->Port();
    EXPECT_EQ(c.Call("GetParamForn", {Variant("000001")})[0].AsString(), "S");
    ASSERT_EQ(server_->Stop(), 0);
    EXPECT_NE(MessageOf([&] { c.Call("GetParamForn", {Variant("000001")}); })
                  .find("Não foi possível conectar ao servidor de aplicação 127.0.0.1:" +
                        std::to_string(port)),
              String::npos);
    Start({}, "127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(c.Call("GetParamForn", {Variant("000001")})[0].AsString(), "S");
}

TEST(Brannox, ServerAddressFromSettingEnvironmentOrDefault) {
    Brannox::SetServer("");
    unsetenv("KX_SERVER");
    EXPECT_EQ(Brannox::WebURL(), "127.0.0.1");
    EXPECT_EQ(Brannox::WebPort(), 4711);
    setenv("KX_SERVER", "10.1.2.3:5000", 1);
    EXPECT_EQ(Brannox::WebURL(), "10.1.2.3"); // read again at every call
    EXPECT_EQ(Brannox::WebPort(), 5000);
    Brannox::SetServer("[::1]:6000");
    EXPECT_EQ(Brannox::WebURL(), "::1");
    EXPECT_EQ(Brannox::WebPort(), 6000);
    for (const String bad : {"servidor", "host:", ":80", "host:99999", "host:8o"})
        EXPECT_THROW(Brannox::SetServer(bad), Exception) << bad;
    EXPECT_EQ(Brannox::WebPort(), 6000); // a refused address changes nothing
    Brannox::SetServer("");
    EXPECT_EQ(Brannox::WebPort(), 5000);
    setenv("KX_SERVER", "sem-porta", 1); // malformed: the default
    EXPECT_EQ(Brannox::WebPort(), 4711);
    unsetenv("KX_SERVER");
}

TEST_F(NetConnectionTest, EmptyAddressUsesTheHostsServer) {
    Brannox::SetServer("127.0.0.1:" + std::to_string(server_->Port()));
    TNetConnection c;
    c.ServerName = kModule;
    c.SetConnected(true);
    EXPECT_TRUE(c.Connected());
    Brannox::SetServer("");
}

// The host's sign-in asks the session module first: only a description that says "auth": false
// spares it, only one that says true makes it needed; anything else signs in.
TEST(SessionProbe, SignInFollowsWhatTheSessionModuleSays) {
    struct Case {
        const char* description;
        TNetConnection::TLoginResult logIn;
        bool needed;
    };
    using R = TNetConnection::TLoginResult;
    const std::vector<Case> cases = {
        {R"({"module":"Sessao","auth":true})", R::Ok, true},
        {R"({"module":"Sessao","auth":false})", R::NotRequired, false},
        {R"({"module":"Sessao"})", R::Ok, false},
        {R"({"module":"Sessao","auth":null})", R::Ok, false},
        {R"({"module":"Sessao","auth":"sim"})", R::Ok, false},
        {"não é JSON", R::Ok, false},
    };
    for (const Case& k : cases) {
        std::mutex mutex;
        std::vector<std::string> asked;
        FakeServer fake([&](int fd) {
            for (;;) {
                const std::string request = ReadHttpMessage(fd);
                if (request.empty()) return;
                {
                    std::lock_guard lock(mutex);
                    asked.push_back(request.substr(0, request.find(" HTTP/1.1")));
                }
                WriteAll(fd, request.rfind("GET", 0) == 0
                                 ? HttpAnswer(200, k.description)
                                 : HttpAnswer(200, R"({"jsonrpc":"2.0","id":0,)"
                                                   R"("result":["S","sessao-1"]})"));
            }
        });
        Brannox::SetServer("127.0.0.1:" + std::to_string(fake.Port()));
        TNetConnection::SetPassword("senha-1");
        EXPECT_EQ(TNetConnection::LoginNeeded(), k.needed) << k.description;
        String message;
        EXPECT_EQ(TNetConnection::LogIn(message), k.logIn) << k.description << ": " << message;
        EXPECT_EQ(TNetConnection::SessionToken(), k.logIn == R::Ok ? "sessao-1" : "")
            << k.description;
        // Only the session module is asked; it is signed in to once, and only when it must be.
        std::lock_guard lock(mutex);
        ASSERT_FALSE(asked.empty()) << k.description;
        EXPECT_EQ(asked.back(), k.logIn == R::Ok ? "POST /rpc/Sessao" : "GET /rpc/Sessao");
        EXPECT_EQ(std::count(asked.begin(), asked.end(), "POST /rpc/Sessao"),
                  k.logIn == R::Ok ? 1 : 0)
            << k.description;
        EXPECT_EQ(std::count(asked.begin(), asked.end(), "GET /rpc/Sessao") +
                      std::count(asked.begin(), asked.end(), "POST /rpc/Sessao"),
                  static_cast<long>(asked.size()))
            << k.description;
    }
    TNetConnection::SetPassword("");

    // No server: LogIn says why, and no sign-in is thought needed.
    const int closed = ClosedPort();
    Brannox::SetServer("127.0.0.1:" + std::to_string(closed));
    String message;
    EXPECT_EQ(TNetConnection::LogIn(message), R::Unreachable);
    EXPECT_EQ(message, "Não foi possível conectar ao servidor de aplicação 127.0.0.1:" +
                           std::to_string(closed) + ": conexão recusada.");
    EXPECT_FALSE(TNetConnection::LoginNeeded());
    Brannox::SetServer("");
}
