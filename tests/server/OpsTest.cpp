// What an administrator's tools see: /healthz, /readyz, /metrics (read with the Prometheus
// client's own parser), their own address, and readiness told to systemd.
#include "ServerHarness.h"

#include "Schema.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string kModule = "Kxf27400.rdmParamForne";

// The samples of a /metrics text, parsed by prometheus_client; fails the test when it refuses.
struct Scrape {
    std::map<std::string, double> samples;
    std::map<std::string, std::string> types;
    double At(const std::string& key) const {
        const auto it = samples.find(key);
        if (it == samples.end()) ADD_FAILURE() << "série ausente: " << key;
        return it == samples.end() ? -1 : it->second;
    }
};

Scrape Parse(const std::string& text) {
    TempDir dir;
    const std::string path = dir.Path() + "/metrics.txt";
    std::ofstream(path) << text;
    const std::string command =
        "/usr/bin/python3 " KX_SOURCE_DIR "/tests/server/parse_metrics.py " + path + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    const int status = pclose(p);
    Scrape s;
    if (status != 0) {
        ADD_FAILURE() << "o analisador do Prometheus recusou o texto: " << out << "\n" << text;
        return s;
    }
    const json j = json::parse(out);
    s.samples = j["samples"].get<std::map<std::string, double>>();
    s.types = j["types"].get<std::map<std::string, std::string>>();
    return s;
}

std::string Calls(const std::string& method, const std::string& outcome) {
    return "kx_rpc_calls_total{method=" + method + ",module=" + kModule + ",outcome=" + outcome +
           "}";
}

std::string Duration(const std::string& suffix, const std::string& method,
                     const std::string& le = "") {
    return "kx_rpc_call_duration_seconds_" + suffix + "{" + (le.empty() ? "" : "le=" + le + ",") +
           "method=" + method + ",module=" + kModule + "}";
}

// Waits until the server's log holds text (the log is written by a thread of its own).
std::string LogWith(const ServerProcess& server, const std::string& text) {
    std::string log;
    for (int i = 0; i < 200; ++i) {
        log = server.Log();
        if (log.find(text) != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return log;
}

json Call(HttpClient& client, const std::string& method, const json& params) {
    return client.Call(method, params);
}

} // namespace

class OpsTest : public ServerTest {};
INSTANTIATE_TEST_SUITE_P(Sqlite, OpsTest, ::testing::Values("sqlite"), EngineName);

// Every kind of outcome once or twice: each counter moves by exactly the calls made, and nothing
// else moves.
TEST_P(OpsTest, MetricsParseAndCountTheCallsByMethodAndOutcome) {
    const HttpResult first = client_->Send("GET", "/metrics", "");
    ASSERT_EQ(first.status, 200);
    EXPECT_EQ(first.headers.at("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    const Scrape before = Parse(first.body);

    const json packet = LoadPacket(*client_, "000001");
    ASSERT_EQ(Call(*client_, "GetParamForn", {"000001"})["result"][0], "S");
    EXPECT_EQ(Call(*client_, "GetParamForn", {"404040"})["result"][0], "N");
    const json delta = UpdateDelta(packet, {{"IDUTPRIGXML", "S"}});
    EXPECT_EQ(Call(*client_, "SetParamForn", {delta, false})["result"], json::array({"S"}));
    EXPECT_EQ(RpcErrorOf(Call(*client_, "SetParamForn", {delta, false}))["code"], -32001);
    EXPECT_EQ(RpcErrorOf(Call(*client_, "SetParamForn",
                              {UpdateDelta(LoadPacket(*client_, "000002"), {{"IDUTPRIGXML", "X"}}),
                               false}))["code"],
              -32000);
    EXPECT_EQ(RpcErrorOf(Call(*client_, "SetParamForn", {json::object(), false}))["code"], -32602);
    EXPECT_EQ(RpcErrorOf(Call(*client_, "Apagar", json::array()))["code"], -32601);

    const Scrape after = Parse(client_->Send("GET", "/metrics", "").body);
    std::map<std::string, double> expected = {
        {Calls("GetParamForn", "ok"), 3},
        {Calls("GetParamForn", "refused"), 1},
        {Calls("SetParamForn", "ok"), 1},
        {Calls("SetParamForn", "conflict"), 1},
        {Calls("SetParamForn", "refused"), 1},
        {Calls("SetParamForn", "invalid"), 1},
        {Calls("_other", "invalid"), 1},
        {"kx_saves_total{}", 1},
        {"kx_conflicts_total{}", 1},
        {"kx_refusals_total{}", 2},
        {"kx_database_errors_total{}", 0},
        {Duration("count", "GetParamForn"), 4},
        {Duration("count", "SetParamForn"), 4},
        {Duration("bucket", "SetParamForn", "+Inf"), 4},
        {Duration("count", "_other"), 1},
        {"kx_rpc_calls_in_flight{}", 0},
    };
    for (const auto& [key, delta] : expected)
        EXPECT_EQ(after.At(key) - before.At(key), delta) << key;
    for (const auto& [key, value] : after.samples) {
        if (key.rfind("kx_rpc_calls_total", 0) == 0 && !expected.count(key)) {
            EXPECT_EQ(value, before.At(key)) << key;
        }
    }

    EXPECT_EQ(after.types.at("kx_rpc_calls"), "counter");
    EXPECT_EQ(after.types.at("kx_rpc_call_duration_seconds"), "histogram");
    // Buckets are cumulative and the sum is a time, not a count.
    double previous = 0;
    for (const std::string le : {"0.001", "0.0025", "0.005", "0.01", "0.025", "0.05", "0.1", "0.25",
                                 "0.5", "1", "2.5", "5", "10", "+Inf"}) {
        const double n = after.At(Duration("bucket", "SetParamForn", le));
        EXPECT_GE(n, previous) << le;
        previous = n;
    }
    EXPECT_GT(after.At(Duration("sum", "SetParamForn")), 0);
    EXPECT_LT(after.At(Duration("sum", "SetParamForn")), 60);
    EXPECT_GE(after.At("kx_http_connections_open{}"), 1);
    EXPECT_GE(after.At("kx_database_sessions_open{}"), 1);
    EXPECT_EQ(after.At("kx_build_info{version=" KX_VERSION "}"), 1);
}

TEST_P(OpsTest, EndpointsAnswerGetOnlyAndTheirOwnAddressMovesThem) {
    for (const char* path : {"/healthz", "/readyz", "/metrics"}) {
        EXPECT_EQ(client_->Send("GET", std::string(path) + "?x=1", "").status, 200) << path;
        const HttpResult post = client_->Send("POST", path, "{}");
        EXPECT_EQ(post.status, 405) << path;
        EXPECT_EQ(post.headers.at("Allow"), "GET") << path;
    }
    EXPECT_EQ(client_->Send("GET", "/healthz", "").Json(), json({{"status", "ok"}}));

    ServerProcess moved(db_->Url(), {"--metrics-listen", "127.0.0.1:0"});
    const std::string log = LogWith(moved, "métricas e saúde em 127.0.0.1:");
    const auto at = log.find("métricas e saúde em 127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << log;
    const int opsPort =
        std::stoi(log.substr(at + std::string("métricas e saúde em 127.0.0.1:").size()));
    HttpClient rpc(moved.Port()), ops(opsPort);
    for (const char* path : {"/healthz", "/readyz", "/metrics"}) {
        EXPECT_EQ(rpc.Send("GET", path, "").status, 404) << path;
        EXPECT_EQ(ops.Send("GET", path, "").status, 200) << path;
    }
    EXPECT_EQ(rpc.Call("GetParamForn", {"000001"})["result"][0], "S");
    EXPECT_EQ(ops.Send("GET", "/rpc/" + kModule, "").status, 404);
    EXPECT_EQ(ops.Send("POST", "/rpc/" + kModule, "{}").status, 404);
    EXPECT_EQ(Parse(ops.Send("GET", "/metrics", "").body).At(Calls("GetParamForn", "ok")), 1);
    EXPECT_EQ(moved.Stop(), 0) << moved.Log();
}

// Ready means the database answers with its schema; alive means only the process answers.
TEST(OpsReadiness, ReadyOnlyWhileTheDatabaseAnswers) {
    TempDir dir;
    const std::string url = "sqlite:" + dir.Path() + "/later.db";
    ServerProcess server(url);
    HttpClient client(server.Port());
    EXPECT_EQ(client.Send("GET", "/healthz", "").status, 200);
    const HttpResult notReady = client.Send("GET", "/readyz", "");
    EXPECT_EQ(notReady.status, 503);
    EXPECT_NE(notReady.Json()["message"].get<std::string>().find("não encontrado"),
              std::string::npos)
        << notReady.body;
    EXPECT_EQ(RpcErrorOf(client.Call("GetParamForn", {"000001"}))["code"], -32002);
    EXPECT_EQ(Parse(client.Send("GET", "/metrics", "").body).At("kx_database_errors_total{}"), 1);

    // A database without the schema is not ready either.
    {
        soci::session sql;
        kxsql::OpenSession(sql, url);
        sql << "CREATE TABLE OUTRA (X INTEGER)";
    }
    EXPECT_EQ(client.Send("GET", "/readyz", "").status, 503);
    ASSERT_EQ(RunAppserver({"init", "--db", url}).exitCode, 0);
    EXPECT_EQ(client.Send("GET", "/readyz", "").status, 200);
    EXPECT_EQ(server.Stop(), 0);
}

TEST(OpsReadiness, PostgresqlReadyWhenTheDatabaseAnswers) {
    if (!std::getenv("KX_TEST_PG")) GTEST_SKIP() << "KX_TEST_PG não definido";
    TestDatabase db("postgresql");
    ServerProcess server(db.Url());
    HttpClient client(server.Port());
    EXPECT_EQ(client.Send("GET", "/readyz", "").status, 200);
    EXPECT_EQ(server.Stop(), 0);
    // Unreachable: nothing listens on the port.
    ServerProcess orphan("postgresql://kx@127.0.0.1:1/kx");
    HttpClient other(orphan.Port());
    EXPECT_EQ(other.Send("GET", "/healthz", "").status, 200);
    EXPECT_EQ(other.Send("GET", "/readyz", "").status, 503);
    EXPECT_EQ(orphan.Stop(), 0);
}

// Type=notify: READY=1 once listening, watchdog pings while serving, STOPPING=1 on SIGTERM.
TEST(OpsSystemd, ReadinessWatchdogAndStopAreNotified) {
    TempDir dir;
    const std::string path = dir.Path() + "/notify";
    const int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    timeval timeout{5, 0};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    auto receive = [&] {
        char buf[512];
        const ssize_t n = recv(sock, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("(nada)");
    };

    TestDatabase db("sqlite");
    ServerProcess server(db.Url(), {}, "127.0.0.1:0",
                         {"NOTIFY_SOCKET=" + path, "WATCHDOG_USEC=200000"});
    const std::string ready = receive();
    EXPECT_EQ(ready.rfind("READY=1\nSTATUS=atendendo em 127.0.0.1:", 0), 0u) << ready;
    // The watchdog is fed at half its interval.
    EXPECT_EQ(receive(), "WATCHDOG=1");
    EXPECT_EQ(receive(), "WATCHDOG=1");
    kill(server.Pid(), SIGTERM);
    std::string message;
    do
        message = receive();
    while (message == "WATCHDOG=1");
    EXPECT_EQ(message.rfind("STOPPING=1", 0), 0u) << message;
    EXPECT_EQ(server.Stop(), 0);
    close(sock);
}
