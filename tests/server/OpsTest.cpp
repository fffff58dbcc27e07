// What an administrator's tools see: /healthz, /readyz, /metrics (read with the Prometheus
// client's own parser), their own address, and readiness told to systemd.
#include "ServerHarness.h"

#include "Schema.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
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

bool WriteFile(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0) return false;
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// Runs `body` in a child process with a tmpfs of `kib` KiB of its own mounted on `dir`: in a
// user and mount namespace of its own, so no privilege is needed and nothing outlives the child
// (the mount goes with it). Whatever the child reports comes back; "" with `why` set when this
// machine allows no such namespace.
std::string InPrivateTmpfs(const std::string& dir, int kib, const std::function<json()>& body,
                           std::string& why) {
    int fds[2];
    if (pipe(fds) != 0) {
        why = "pipe";
        return "";
    }
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        auto report = [&](const std::string& text) {
            (void)!write(fds[1], text.data(), text.size());
            _exit(0);
        };
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            report(std::string("!sem namespaces de usuário e montagem: ") + std::strerror(errno));
        WriteFile("/proc/self/setgroups", "deny");
        if (!WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            report(std::string("!mapa de usuário recusado: ") + std::strerror(errno));
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + std::to_string(kib) + "k").c_str()))
            report(std::string("!tmpfs recusado: ") + std::strerror(errno));
        try {
            report(body().dump());
        } catch (const std::exception& e) {
            report(json{{"falha", e.what()}}.dump());
        }
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    if (!out.empty() && out[0] == '!') {
        why = out.substr(1);
        return "";
    }
    if (out.empty()) why = "o processo filho não respondeu";
    return out;
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
    for (const auto& [key, expectedDelta] : expected)
        EXPECT_EQ(after.At(key) - before.At(key), expectedDelta) << key;
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

    // The probe passes but the calls fail on the database (the history they read is gone): not
    // ready either, once they fail more than now and then.
    {
        soci::session sql;
        kxsql::OpenSession(sql, url);
        sql << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN) "
               "VALUES ('000001', '11222333000181', 'Alfa', 'J')";
        sql << "DROP TABLE PARAMFORNELOG";
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(RpcErrorOf(client.Call("GetLogParamForn", {"000001", 0, 10}))["code"], -32002);
    const HttpResult failing = client.Send("GET", "/readyz", "");
    EXPECT_EQ(failing.status, 503);
    EXPECT_NE(failing.body.find("falha nas chamadas"), std::string::npos) << failing.body;
    EXPECT_EQ(server.Stop(), 0);
}

// A SQLite database on a small filesystem of its own: ready while it takes writes; a full disk
// and a read-only folder make /readyz 503 with the reason (logged once each), and serve refuses
// to start on the read-only one.
TEST(OpsReadiness, SqliteFullOrReadOnlyIsNotReady) {
    TempDir dir;
    const std::string url = "sqlite:" + dir.Path() + "/kx.db";
    std::string why;
    const std::string out = InPrivateTmpfs(
        dir.Path(), 4096,
        [&] {
            json seen;
            kxsql::InitDatabase(url, true);
            {
                ServerProcess server(url);
                HttpClient client(server.Port());
                const auto readyz = [&] {
                    const HttpResult r = client.Send("GET", "/readyz", "");
                    return json{{"status", r.status}, {"body", r.Json()}};
                };
                seen["fresh"] = readyz();
                {
                    std::ofstream filler(dir.Path() + "/filler", std::ios::binary);
                    const std::string block(64 * 1024, 'x');
                    while (filler.write(block.data(), block.size()))
                        ;
                }
                seen["full"] = readyz();
                std::remove((dir.Path() + "/filler").c_str());
                seen["room again"] = readyz();
                // The folder turns read-only under the running server (a read-only view of it on
                // top: the files it holds open stay writable, as when another user takes them
                // over).
                const char* d = dir.Path().c_str();
                seen["remount"] = mount(d, d, nullptr, MS_BIND, nullptr) == 0 &&
                                          mount(nullptr, d, nullptr,
                                                MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0
                                      ? "ok"
                                      : std::strerror(errno);
                seen["read-only"] = readyz();
                seen["log"] = server.LogWith("event=notready", 2);
                seen["stop"] = server.Stop();
            }
            // A server that started would not return: it is started as one and must fail to.
            try {
                ServerProcess started(url);
                seen["serve"] = "iniciou";
            } catch (const std::exception& e) {
                seen["serve"] = e.what();
            }
            return seen;
        },
        why);
    if (out.empty()) GTEST_SKIP() << why;
    const json seen = json::parse(out);
    ASSERT_FALSE(seen.contains("falha")) << seen.dump(1);
    EXPECT_EQ(seen["fresh"]["status"], 200) << seen.dump(1);
    EXPECT_EQ(seen["room again"]["status"], 200) << seen.dump(1);
    EXPECT_EQ(seen["remount"], "ok");
    for (const auto& [state, reason] :
         {std::pair{"full", "disco cheio"}, {"read-only", "não pode ser gravad"}}) {
        EXPECT_EQ(seen[state]["status"], 503) << state;
        const std::string message = seen[state]["body"].value("message", "");
        EXPECT_NE(message.find("não aceita gravações"), std::string::npos) << state << message;
        EXPECT_NE(message.find(reason), std::string::npos) << state << ": " << message;
    }
    const std::string log = seen["log"];
    EXPECT_NE(log.find("event=notready msg=\"O banco de dados não aceita gravações: disco cheio"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("event=ready "), std::string::npos) << log;
    EXPECT_EQ(seen["stop"], 0);
    EXPECT_NE(seen["serve"].get<std::string>().find("não aceita gravações"), std::string::npos)
        << seen["serve"];
}

// PostgreSQL refusing writes (a read-only default, as on a standby): 503 with its words, and
// serve does not start on it; ready again once it takes writes.
TEST(OpsReadiness, PostgresqlReadOnlyIsNotReady) {
    if (!std::getenv("KX_TEST_PG")) GTEST_SKIP() << "KX_TEST_PG não definido";
    TestDatabase db("postgresql");
    ServerProcess server(db.Url());
    HttpClient client(server.Port());
    EXPECT_EQ(client.Send("GET", "/readyz", "").status, 200);
    const auto readOnly = [&](bool on) {
        db.Admin() << "ALTER DATABASE " + db.Name() +
                          " SET default_transaction_read_only = " + (on ? "on" : "off");
        // Sessions take the setting when they start: the server's are dropped.
        db.Admin() << "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                          db.Name() + "'";
    };
    readOnly(true);
    const HttpResult r = client.Send("GET", "/readyz", "");
    EXPECT_EQ(r.status, 503);
    EXPECT_NE(r.Json().value("message", "").find("read-only transaction"), std::string::npos)
        << r.body;
    const RunResult refused = RunAppserver({"serve", "--db", db.Url(), "--listen", "127.0.0.1:0"});
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_NE(refused.err.find("não aceita gravações"), std::string::npos) << refused.err;
    readOnly(false);
    EXPECT_EQ(client.Send("GET", "/readyz", "").status, 200);
    const std::string log = server.LogWith("event=ready ");
    EXPECT_NE(log.find("event=notready"), std::string::npos) << log;
    EXPECT_NE(log.find("event=ready "), std::string::npos) << log;
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
