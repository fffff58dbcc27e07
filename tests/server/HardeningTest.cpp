// Requests a hostile client or a flaky network would send: each gets a clean answer and the
// server stays up; saves carrying an Idempotency-Key are applied once whatever the repeats.
#include "ServerHarness.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include <poll.h>

namespace {

const std::string kModule = "/rpc/Kxf27400.rdmParamForne";

std::string Nested(int depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

std::string Request(const std::string& method, const std::string& params) {
    return R"({"jsonrpc":"2.0","id":9,"method":")" + method + R"(","params":)" + params + "}";
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

class HardeningTest : public ServerTest {};
KX_ENGINES(HardeningTest);

TEST_P(HardeningTest, HostileRequestsGetCleanErrorsAndTheServerStaysUp) {
    const json packet = LoadPacket(*client_, "000001");
    auto set = [&](json old, json changed) {
        json delta = UpdateDelta(packet, changed);
        if (!old.is_null()) delta["changes"][0]["old"][0] = old;
        return Request("SetParamForn", json::array({delta, false}).dump());
    };
    std::string deepValue = set(nullptr, {{"VRMAXPERMFORN", 1}});
    deepValue.replace(deepValue.find("\"VRMAXPERMFORN\":1"), 17,
                      "\"VRMAXPERMFORN\":" + Nested(12000));
    // Parsed as 0 it would be a valid number of days, and stored.
    std::string tinyDays = set(nullptr, {{"NRDIASBLOQNFFOR", 4321}});
    tinyDays.replace(tinyDays.find("4321"), 4, "1e-400");
    struct Case {
        const char* what;
        std::string body;
        int code;
        const char* message; // a part of the Portuguese message
    };
    const std::vector<Case> cases = {
        {"deep array in GetParamForn", Request("GetParamForn", "[" + Nested(12000) + "]"), -32700,
         "além de 64 níveis"},
        {"deep value in SetParamForn", deepValue, -32700, "além de 64 níveis"},
        {"64 levels still parse", Request("GetParamForn", Nested(63)), -32602,
         "GetParamForn espera"},
        {"number out of range", Request("GetParamForn", "[1e400]"), -32700, "fora do intervalo"},
        {"number below the smallest", tinyDays, -32700, "1e-400 é pequeno demais"},
        {"negative and in a nested value", Request("SetParamForn", R"([{"a":[-2.5E-999]}])"),
         -32700, "-2.5E-999 é pequeno demais"},
        {"a written zero is no underflow", Request("GetParamForn", "[0.000e-400]"), -32602,
         "GetParamForn espera"},
        {"NUL in the supplier code", Request("GetParamForn", R"(["000001\u0000x"])"), -32000,
         "caractere de controle na posição 7"},
        {"NUL in the original code", set(std::string("000001\0zz", 9), {{"IDUTPRIGXML", "S"}}),
         -32000, "CDFORNECED: o texto contém um caractere de controle"},
        {"NUL in a new text", set(nullptr, {{"CDPRODCONSREPE", std::string("A\0B", 3)}}), -32000,
         "Campo CDPRODCONSREPE: o texto contém um caractere de controle na posição 2"},
        {"line break in a new text", set(nullptr, {{"CDPRODCONSREPE", "0101\n0102"}}), -32000,
         "caractere de controle na posição 5"},
        {"C1 control in a new text", set(nullptr, {{"DSGRUPOPER", "Fis\u0085cal"}}), -32000,
         "caractere de controle na posição 4"},
    };
    const std::string before =
        db_->Dump("SELECT * FROM PARAMFORNE") + db_->Dump("SELECT COUNT(*) FROM PARAMFORNELOG");
    for (const Case& c : cases) {
        const HttpResult r = client_->Send("POST", kModule, c.body);
        EXPECT_EQ(r.status, 200) << c.what;
        const json error = RpcErrorOf(r.Json());
        EXPECT_EQ(error["code"], c.code) << c.what << ": " << r.body;
        EXPECT_NE(error["message"].get<std::string>().find(c.message), std::string::npos)
            << c.what << ": " << r.body;
        EXPECT_EQ(error["message"].get<std::string>().find("json.exception"), std::string::npos);
    }
    EXPECT_EQ(db_->Dump("SELECT * FROM PARAMFORNE") +
                  db_->Dump("SELECT COUNT(*) FROM PARAMFORNELOG"),
              before);

    // The HTTP side: a target that is not UTF-8, HEAD and CONNECT.
    const HttpResult badTarget = client_->Send("GET", "/rpc/Kxf27400.rdm\xff\xfe", "");
    EXPECT_EQ(badTarget.status, 400);
    EXPECT_EQ(RpcErrorOf(badTarget.Json())["code"], -32600);
    for (const auto& [verb, target] : {std::pair{"HEAD", kModule}, {"CONNECT", "127.0.0.1:443"}}) {
        const HttpResult r = client_->Send(verb, target, "");
        EXPECT_EQ(r.status, 405) << verb;
        EXPECT_TRUE(r.body.empty()) << verb << ": " << r.body;
        EXPECT_EQ(r.headers.count("Allow") ? r.headers.at("Allow") : "", "GET, POST") << verb;
    }
    EXPECT_EQ(client_->Call("GetParamForn", {"000001"})["result"][0], "S");
    EXPECT_TRUE(server_->Running());
    EXPECT_EQ(server_->Log().find("erro inesperado"), std::string::npos) << server_->Log();
}

TEST_P(HardeningTest, ARepeatedKeyGetsTheFirstAnswerAndChangesNothingMore) {
    const json delta = UpdateDelta(LoadPacket(*client_, "000001"), {{"IDUTPRIGXML", "S"}});
    const std::string body = Request("SetParamForn", json::array({delta, false}).dump());
    const std::map<std::string, std::string> key = {{"Idempotency-Key", "3f2a9c0d5e6b4a1f8c7d"}};
    const HttpResult first = client_->Send("POST", kModule, body, key);
    ASSERT_EQ(ResultOf(first.Json()), json::array({"S"})) << first.body;
    const size_t logged = db_->LogRows("000001").size();
    const HttpResult again = client_->Send("POST", kModule, body, key);
    EXPECT_EQ(again.body, first.body); // the stored answer, id included
    EXPECT_EQ(db_->LogRows("000001").size(), logged);
    // Without the key the same save is stale; with the key and another body it is refused.
    EXPECT_EQ(RpcErrorOf(client_->Send("POST", kModule, body).Json())["code"], -32001);
    const std::string other = Request(
        "SetParamForn",
        json::array({UpdateDelta(LoadPacket(*client_, "000001"), {{"IDUTPRIGXML", "N"}}), false})
            .dump());
    const json reused = RpcErrorOf(client_->Send("POST", kModule, other, key).Json());
    EXPECT_EQ(reused["code"], -32600);
    EXPECT_NE(reused["message"].get<std::string>().find("já usada"), std::string::npos);
    EXPECT_EQ(db_->ParamRow("000001")->at("IDUTPRIGXML"), "S");
    for (const std::string& bad : {std::string(101, 'k'), std::string("chave com espaço")})
        EXPECT_EQ(
            RpcErrorOf(
                client_->Send("POST", kModule, other, {{"Idempotency-Key", bad}}).Json())["code"],
            -32600)
            << bad;

    // Concurrent deliveries of one keyed save: one applies it, every one answers its result.
    const json fresh = UpdateDelta(LoadPacket(*client_, "000008"), {{"QTREPETEPRODNF", 9}});
    const std::string racing = Request("SetParamForn", json::array({fresh, false}).dump());
    std::promise<void> go;
    std::shared_future<void> start = go.get_future().share();
    std::vector<std::future<std::string>> answers;
    for (int c = 0; c < 6; ++c)
        answers.push_back(std::async(std::launch::async, [&] {
            HttpClient client(server_->Port());
            start.wait();
            return client.Send("POST", kModule, racing, {{"Idempotency-Key", "corrida-1"}}).body;
        }));
    go.set_value();
    for (auto& a : answers)
        EXPECT_EQ(ResultOf(json::parse(a.get())), json::array({"S"}));
    EXPECT_EQ(db_->LogRows("000008").size(), 1u);
    EXPECT_EQ(db_->ParamRow("000008")->at("QTREPETEPRODNF"), 9.0);
}

TEST_P(HardeningTest, KeysAreKeptADayAndThenForgotten) {
    const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    for (const auto& [name, age] : {std::pair{"velha", 25 * 3600}, {"recente", 23 * 3600}}) {
        // Named: SOCI runs the statement when the expression ends, after its temporaries.
        std::string key = name;
        long long created = now - age;
        db_->Sql() << "INSERT INTO CHAVEIDEMPOT (CDCHAVEIDEMPOT, DSHASHREQ, DSRESPOSTA, NRCRIACAO) "
                      "VALUES (:k, 'x', '[\"S\"]', :t)",
            soci::use(key), soci::use(created);
    }
    const json delta = UpdateDelta(LoadPacket(*client_, "000001"), {{"IDUTPRIGXML", "S"}});
    const HttpResult r =
        client_->Send("POST", kModule, Request("SetParamForn", json::array({delta, false}).dump()),
                      {{"Idempotency-Key", "nova"}});
    EXPECT_EQ(ResultOf(r.Json()), json::array({"S"}));
    EXPECT_EQ(db_->Dump("SELECT CDCHAVEIDEMPOT FROM CHAVEIDEMPOT ORDER BY CDCHAVEIDEMPOT"),
              "\"nova\"|\n\"recente\"|\n");
}

// Out of descriptors, new connections are answered 503 (or let go) at once, the failure is
// logged once, and the server serves again as soon as descriptors are free.
TEST(ServerLimits, AcceptFailuresAreShedAndLoggedOnce) {
    TestDatabase db("sqlite");
    ServerProcess server(db.Url(), {}, "127.0.0.1:0", {}, {64, 64});
    namespace asio = boost::asio;
    using tcp = asio::ip::tcp;
    asio::io_context io;
    const tcp::endpoint at(asio::ip::make_address("127.0.0.1"),
                           static_cast<unsigned short>(server.Port()));
    std::vector<std::unique_ptr<tcp::socket>> held;
    for (int i = 0; i < 90; ++i) {
        held.push_back(std::make_unique<tcp::socket>(io));
        held.back()->connect(at);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // A request on a connection the server could not keep: an answer or the end, never a hang.
    const auto start = std::chrono::steady_clock::now();
    tcp::socket late(io);
    late.connect(at);
    const std::string get = "GET " + kModule + " HTTP/1.1\r\nHost: x\r\n\r\n";
    boost::system::error_code ec;
    asio::write(late, asio::buffer(get), ec);
    std::string answer(512, '\0');
    pollfd p{late.native_handle(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1) << "a conexão ficou sem resposta";
    const size_t n = late.read_some(asio::buffer(answer), ec);
    EXPECT_TRUE(ec || answer.substr(0, n).find("503") != std::string::npos) << answer;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    held.clear();
    late.close();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    HttpClient client(server.Port());
    EXPECT_EQ(client.Call("GetParamForn", {"000001"})["result"][0], "S");
    EXPECT_EQ(server.Stop(), 0);
    const std::string log = server.Log();
    EXPECT_EQ(Occurrences(log, "falha ao aceitar"), 1u) << log;
    EXPECT_EQ(Occurrences(log, "descritores livres de novo"), 1u) << log;
}

TEST(ServerLimits, TheSoftDescriptorLimitIsRaisedToTheHardOne) {
    TestDatabase db("sqlite");
    ServerProcess server(db.Url(), {}, "127.0.0.1:0", {}, {100, 4096});
    std::ifstream limits("/proc/" + std::to_string(server.Pid()) + "/limits");
    std::string line;
    while (std::getline(limits, line) && line.rfind("Max open files", 0) != 0) {
    }
    EXPECT_NE(line.find("4096                 4096"), std::string::npos) << line;
}
