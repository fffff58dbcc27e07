// Calls of the supplier-parameters module through TNetConnection against a real appserver.
#include "DemoServer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <soci/soci.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "net/NetConnection.h"
#include "sql/Schema.h"

namespace {

const char* kModule = "Kxf27400.rdmParamForne";

void Connect(TNetConnection& c) {
    c.ServerName = kModule;
    c.Host = "127.0.0.1";
    c.Port = DemoServer::Shared().Port();
    c.SetConnected(true);
}

// Each iteration's wall time, for the median the goals are stated in.
class Latencies {
public:
    void Start() { start_ = std::chrono::steady_clock::now(); }
    void Stop() {
        samples_.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start_)
                .count());
    }
    void Report(benchmark::State& state) {
        if (samples_.empty()) return;
        std::nth_element(samples_.begin(), samples_.begin() + samples_.size() / 2, samples_.end());
        state.counters["p50_us"] = samples_[samples_.size() / 2];
    }

private:
    std::chrono::steady_clock::time_point start_;
    std::vector<double> samples_;
};

nlohmann::json Packet(TNetConnection& c, const char* code) {
    Variant answer = c.Call("GetParamForn", {Variant(String(code))});
    return answer[1].AsJson();
}

// One call on the connection kept open: without TCP_NODELAY on both sides a request and its
// answer would wait out the delayed acknowledgement, about 40 ms each.
void BM_GetParamFornKeepAlive(benchmark::State& state) {
    TNetConnection c;
    Connect(c);
    Latencies times;
    for (auto _ : state) {
        times.Start();
        Variant answer = c.Call("GetParamForn", {Variant(String("000001"))});
        benchmark::DoNotOptimize(answer);
        times.Stop();
    }
    times.Report(state);
    state.SetLabel("conexão mantida; CPU = a do cliente");
}
BENCHMARK(BM_GetParamFornKeepAlive)->Unit(benchmark::kMicrosecond);

// The same call on a fresh connection each time: what keeping the connection saves.
void BM_GetParamFornNewConnection(benchmark::State& state) {
    for (auto _ : state) {
        TNetConnection c;
        Connect(c);
        Variant answer = c.Call("GetParamForn", {Variant(String("000001"))});
        benchmark::DoNotOptimize(answer);
        c.SetConnected(false);
    }
    state.SetLabel("conexão nova por chamada");
}
BENCHMARK(BM_GetParamFornNewConnection)->Unit(benchmark::kMicrosecond);

// A save of one flag, as the screen sends it: the delta holds the row as loaded and the new
// value; each iteration flips the flag back, so every save changes the stored row and writes
// one audit row in its transaction.
void BM_SetParamForn(benchmark::State& state) {
    TNetConnection c;
    Connect(c);
    nlohmann::json packet = Packet(c, "000008");
    nlohmann::json row = packet["rows"][0];
    size_t flag = 0;
    for (size_t i = 0; i < packet["fields"].size(); ++i)
        if (packet["fields"][i]["name"] == "IDSIMPLESNACIONAL") flag = i;
    Latencies times;
    for (auto _ : state) {
        times.Start();
        const std::string next = row[flag] == "S" ? "N" : "S";
        nlohmann::json delta = {
            {"fields", packet["fields"]},
            {"changes",
             {{{"op", "update"}, {"old", row}, {"new", {{"IDSIMPLESNACIONAL", next}}}}}}};
        Variant answer = c.Call("SetParamForn", {Variant::Json(delta), Variant(false)});
        benchmark::DoNotOptimize(answer);
        times.Stop();
        if (!answer.IsArray() || answer[0].AsString() != "S")
            state.SkipWithError("gravação recusada");
        row[flag] = next;
    }
    times.Report(state);
    state.SetLabel("um campo, gravação e auditoria");
}
BENCHMARK(BM_SetParamForn)->Unit(benchmark::kMicrosecond);

// Floor of a call: a small request and its answer over a kept loopback connection, both sides
// with TCP_NODELAY, the answering side a thread of its own as the server's network thread is.
void BM_LoopbackPingPong(benchmark::State& state) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        state.SkipWithError("socket");
        return;
    }
    const int one = 1;
    std::thread echo([listener, one] {
        const int fd = accept(listener, nullptr, nullptr);
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char buf[256];
        for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
            if (write(fd, buf, static_cast<size_t>(n)) != n) break;
        close(fd);
    });
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        state.SkipWithError("connect");
    char msg[128] = "ping";
    Latencies times;
    for (auto _ : state) {
        times.Start();
        if (write(fd, msg, sizeof msg) != static_cast<ssize_t>(sizeof msg)) break;
        for (size_t got = 0; got < sizeof msg;) {
            const ssize_t n = read(fd, msg + got, sizeof msg - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        times.Stop();
    }
    close(fd);
    echo.join();
    close(listener);
    times.Report(state);
    state.SetLabel("128 bytes ida e volta, TCP_NODELAY");
}
BENCHMARK(BM_LoopbackPingPong)->Unit(benchmark::kMicrosecond);

// Floor of a save: one update and one audit row in a transaction, on a session that the
// database engine serves directly (SQLite: WAL, synchronous=FULL, as the server runs it).
void CommitFloor(benchmark::State& state, const std::string& url) {
    soci::session s;
    kxsql::OpenSession(s, url);
    s << "CREATE TABLE KX_PISO (ID INTEGER PRIMARY KEY, FLAG CHAR(1))";
    s << "CREATE TABLE KX_PISO_LOG (ID INTEGER, ANTES CHAR(1), DEPOIS CHAR(1))";
    s << "INSERT INTO KX_PISO (ID, FLAG) VALUES (1, 'N')";
    const bool sqlite = kxsql::EngineOfUrl(url) == kxsql::Engine::SQLite;
    std::string before = "N", after = "S";
    soci::statement update =
        (s.prepare << "UPDATE KX_PISO SET FLAG = :a WHERE ID = 1 AND FLAG = :b",
         soci::use(after, "a"), soci::use(before, "b"));
    soci::statement log =
        (s.prepare << "INSERT INTO KX_PISO_LOG (ID, ANTES, DEPOIS) VALUES (1, :b, :a)",
         soci::use(before, "b"), soci::use(after, "a"));
    Latencies times;
    for (auto _ : state) {
        times.Start();
        s << (sqlite ? "BEGIN IMMEDIATE" : "BEGIN");
        update.execute(true);
        log.execute(true);
        s << "COMMIT";
        times.Stop();
        std::swap(before, after);
    }
    times.Report(state);
}

void BM_SqliteCommitFloor(benchmark::State& state) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("kx_bench_piso_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    CommitFloor(state, "sqlite:" + (dir / "piso.db").string());
    std::filesystem::remove_all(dir);
    state.SetLabel("UPDATE + INSERT + COMMIT, WAL e synchronous=FULL");
}
BENCHMARK(BM_SqliteCommitFloor)->Unit(benchmark::kMicrosecond);

// The same on the PostgreSQL server of KX_TEST_PG, in a database of its own.
void BM_PostgresCommitFloor(benchmark::State& state) {
    const char* admin = std::getenv("KX_TEST_PG");
    const std::string name = "kx_bench_piso_" + std::to_string(getpid());
    soci::session a;
    kxsql::OpenSession(a, admin);
    a << "CREATE DATABASE " + name;
    const std::string url = admin;
    const size_t slash = url.find('/', url.find("://") + 3);
    CommitFloor(state, url.substr(0, slash) + "/" + name);
    a << "DROP DATABASE " + name;
    state.SetLabel("UPDATE + INSERT + COMMIT");
}
// Calls per second that four clients, each on a kept connection, get from one or from two
// appserver processes sharing one PostgreSQL database (the clients spread over the servers as
// a load balancer would spread them). Half the calls are saves.
void BM_PostgresServers(benchmark::State& state) {
    TestDatabase db("postgresql"); // the demo data, in a database of its own on KX_TEST_PG
    const int servers = static_cast<int>(state.range(0));
    double perSecond = 0;
    {
        std::vector<std::unique_ptr<ServerProcess>> running;
        for (int i = 0; i < servers; ++i)
            running.push_back(std::make_unique<ServerProcess>(db.Url()));
        constexpr int kClients = 4;
        constexpr double kSeconds = 3;
        for (auto _ : state) {
            std::atomic<bool> stop{false};
            std::atomic<long> calls{0}, failures{0};
            std::vector<std::thread> clients;
            for (int t = 0; t < kClients; ++t)
                clients.emplace_back([&, t] {
                    TNetConnection c;
                    c.ServerName = kModule;
                    c.Host = "127.0.0.1";
                    c.Port = running[static_cast<size_t>(t % servers)]->Port();
                    c.SetConnected(true);
                    const std::string code = "00000" + std::to_string(t + 1);
                    try {
                        while (!stop) {
                            nlohmann::json packet = Packet(c, code.c_str());
                            nlohmann::json delta = {
                                {"fields", packet["fields"]},
                                {"changes",
                                 {{{"op", "update"},
                                   {"old", packet["rows"][0]},
                                   {"new", {{"NRDIASBLOQNFFOR", calls.load() % 90}}}}}}};
                            c.Call("SetParamForn", {Variant::Json(delta), Variant(false)});
                            calls += 2;
                        }
                    } catch (const std::exception&) {
                        ++failures;
                    }
                });
            std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
            stop = true;
            for (std::thread& c : clients)
                c.join();
            state.SetIterationTime(kSeconds);
            perSecond = static_cast<double>(calls) / kSeconds;
            if (failures) state.SkipWithError("chamadas falharam");
        }
    }
    state.counters["calls_per_s"] = perSecond;
    state.SetLabel(std::to_string(servers) + " servidor(es), 4 clientes, metade gravações");
}

// Registered only when there is a server to measure.
[[maybe_unused]] const bool kPostgresBenchmarks = [] {
    const char* pg = std::getenv("KX_TEST_PG");
    if (pg && *pg) {
        benchmark::RegisterBenchmark("BM_PostgresCommitFloor", BM_PostgresCommitFloor)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("BM_PostgresServers", BM_PostgresServers)
            ->Arg(1)
            ->Arg(2)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
