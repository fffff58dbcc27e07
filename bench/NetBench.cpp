// Calls of the supplier-parameters module through TNetConnection against a real appserver.
#include "DemoServer.h"
#include "LoadDriver.h"

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
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "Schema.h"
#include "net/NetConnection.h"

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
    void Report(benchmark::State& state, const char* counter = "p50_us") {
        if (samples_.empty()) return;
        const auto middle = samples_.begin() + static_cast<long>(samples_.size() / 2);
        std::nth_element(samples_.begin(), middle, samples_.end());
        state.counters[counter] = *middle;
    }

private:
    std::chrono::steady_clock::time_point start_;
    std::vector<double> samples_;
};

nlohmann::json Packet(TNetConnection& c, const char* code) {
    Variant answer = c.Call("GetParamForn", {Variant(String(code))});
    return answer[1].AsJson();
}

// A request of 128 bytes and its echo over a kept loopback connection, both sides with
// TCP_NODELAY, the answering side a thread of its own as the server's network thread is: the
// floor of a call.
class PingPong {
public:
    PingPong() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("socket");
        const int one = 1;
        echo_ = std::thread([this, one] {
            const int fd = accept(listener_, nullptr, nullptr);
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            char buf[256];
            for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
                if (write(fd, buf, static_cast<size_t>(n)) != n) break;
            close(fd);
        });
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("connect");
    }
    ~PingPong() {
        close(fd_);
        echo_.join();
        close(listener_);
    }
    void Once() {
        if (write(fd_, msg_, sizeof msg_) != static_cast<ssize_t>(sizeof msg_)) return;
        for (size_t got = 0; got < sizeof msg_;) {
            const ssize_t n = read(fd_, msg_ + got, sizeof msg_ - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
    }

private:
    int listener_ = -1, fd_ = -1;
    std::thread echo_;
    char msg_[128] = "ping";
};

// One update and one audit row in a transaction, on a session the database engine serves
// directly (SQLite: WAL, synchronous=FULL, as the server runs it): the floor of a save.
class BareCommit {
public:
    explicit BareCommit(const std::string& url)
        : sqlite_(kxsql::EngineOfUrl(url) == kxsql::Engine::SQLite) {
        kxsql::OpenSession(s_, url);
        s_ << "CREATE TABLE KX_PISO (ID INTEGER PRIMARY KEY, FLAG CHAR(1))";
        s_ << "CREATE TABLE KX_PISO_LOG (ID INTEGER, ANTES CHAR(1), DEPOIS CHAR(1))";
        s_ << "INSERT INTO KX_PISO (ID, FLAG) VALUES (1, 'N')";
        update_ = std::make_unique<soci::statement>(
            (s_.prepare << "UPDATE KX_PISO SET FLAG = :a WHERE ID = 1 AND FLAG = :b",
             soci::use(after_, "a"), soci::use(before_, "b")));
        log_ = std::make_unique<soci::statement>(
            (s_.prepare << "INSERT INTO KX_PISO_LOG (ID, ANTES, DEPOIS) VALUES (1, :b, :a)",
             soci::use(before_, "b"), soci::use(after_, "a")));
    }
    void Once() {
        s_ << (sqlite_ ? "BEGIN IMMEDIATE" : "BEGIN");
        update_->execute(true);
        log_->execute(true);
        s_ << "COMMIT";
        std::swap(before_, after_);
    }

private:
    soci::session s_;
    bool sqlite_;
    std::string before_ = "N", after_ = "S";
    std::unique_ptr<soci::statement> update_, log_;
};

// A SQLite file of its own beside the server's, removed afterwards.
struct TempSqlite {
    TempSqlite()
        : dir(std::filesystem::temp_directory_path() /
              ("kx_bench_piso_" + std::to_string(getpid()))) {
        std::filesystem::create_directories(dir);
    }
    ~TempSqlite() { std::filesystem::remove_all(dir); }
    std::string Url() const { return "sqlite:" + (dir / "piso.db").string(); }
    std::filesystem::path dir;
};

// One call on the connection kept open: without TCP_NODELAY on both sides a request and its
// answer would wait out the delayed acknowledgement, about 40 ms each. A ping-pong follows each
// call (outside the timing), so the floor is measured under the same load as the calls.
void BM_GetParamFornKeepAlive(benchmark::State& state) {
    TNetConnection c;
    Connect(c);
    PingPong ping;
    Latencies times, floor;
    for (auto _ : state) {
        times.Start();
        Variant answer = c.Call("GetParamForn", {Variant(String("000001"))});
        benchmark::DoNotOptimize(answer);
        times.Stop();
        state.PauseTiming();
        floor.Start();
        ping.Once();
        floor.Stop();
        state.ResumeTiming();
    }
    times.Report(state);
    floor.Report(state, "pingpong_p50_us");
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
// one audit row in its transaction. A bare commit and a ping-pong follow each save (outside the
// timing): the disk's flush time varies a lot on a shared machine, so the floor is measured in
// the same moments as the saves.
void BM_SetParamForn(benchmark::State& state) {
    TNetConnection c;
    Connect(c);
    nlohmann::json packet = Packet(c, "000008");
    nlohmann::json row = packet["rows"][0];
    size_t flag = 0;
    for (size_t i = 0; i < packet["fields"].size(); ++i)
        if (packet["fields"][i]["name"] == "IDSIMPLESNACIONAL") flag = i;
    TempSqlite file;
    BareCommit bare(file.Url());
    PingPong ping;
    Latencies times, commits, pings;
    for (auto _ : state) {
        times.Start();
        const std::string next = row[flag] == "S" ? "N" : "S";
        nlohmann::json delta = {
            {"fields", packet["fields"]},
            {"changes",
             {{{"op", "update"}, {"old", row}, {"new", {{"IDSIMPLESNACIONAL", next}}}}}}};
        // Handed over, not copied, as the screen hands over its dataset's delta.
        Variant answer = c.Call("SetParamForn", {Variant::Json(std::move(delta)), Variant(false)});
        benchmark::DoNotOptimize(answer);
        times.Stop();
        state.PauseTiming();
        if (!answer.IsArray() || answer[0].AsString() != "S")
            state.SkipWithError("gravação recusada");
        row[flag] = next;
        commits.Start();
        bare.Once();
        commits.Stop();
        pings.Start();
        ping.Once();
        pings.Stop();
        state.ResumeTiming();
    }
    times.Report(state);
    commits.Report(state, "commit_p50_us");
    pings.Report(state, "pingpong_p50_us");
    state.SetLabel("um campo, gravação e auditoria");
}
BENCHMARK(BM_SetParamForn)->Unit(benchmark::kMicrosecond);

// The floors on their own.
void BM_LoopbackPingPong(benchmark::State& state) {
    PingPong ping;
    Latencies times;
    for (auto _ : state) {
        times.Start();
        ping.Once();
        times.Stop();
    }
    times.Report(state);
    state.SetLabel("128 bytes ida e volta, TCP_NODELAY");
}
BENCHMARK(BM_LoopbackPingPong)->Unit(benchmark::kMicrosecond);

void CommitFloor(benchmark::State& state, const std::string& url) {
    BareCommit bare(url);
    Latencies times;
    for (auto _ : state) {
        times.Start();
        bare.Once();
        times.Stop();
    }
    times.Report(state);
}

void BM_SqliteCommitFloor(benchmark::State& state) {
    TempSqlite file;
    CommitFloor(state, file.Url());
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
    LoadResult result;
    {
        std::vector<std::unique_ptr<ServerProcess>> running;
        LoadPlan plan;
        for (int i = 0; i < servers; ++i) {
            running.push_back(std::make_unique<ServerProcess>(db.Url()));
            plan.ports.push_back(running.back()->Port());
        }
        plan.suppliers = {"000001", "000002", "000003", "000004"};
        for (auto _ : state) {
            result = DriveLoad(plan);
            state.SetIterationTime(result.seconds);
        }
    }
    ReportLoad(state, result);
    state.SetLabel(std::to_string(servers) + " servidor(es), 4 clientes, metade gravações");
}

// GetParamForn calls per second that 16 clients on kept connections get from one appserver
// whose database is reached directly (0) or through PgBouncer in transaction mode (1, the pooler
// KX_BENCH_PG_POOLER names, in front of KX_TEST_PG's server).
void BM_PostgresLoadsPooled(benchmark::State& state) {
    const bool pooled = state.range(0) == 1;
    const char* pooler = std::getenv("KX_BENCH_PG_POOLER");
    if (pooled && !(pooler && *pooler)) {
        state.SkipWithError("KX_BENCH_PG_POOLER não definido");
        return;
    }
    // The test database reaches its server through the pooler that KX_TEST_PG_POOLER names.
    if (pooled) setenv("KX_TEST_PG_POOLER", pooler, 1);
    TestDatabase db("postgresql");
    unsetenv("KX_TEST_PG_POOLER");
    LoadResult result;
    {
        ServerProcess server(db.Url());
        LoadPlan plan;
        plan.ports = {server.Port()};
        plan.clients = 16;
        plan.suppliers = {"000001", "000002", "000003", "000004"};
        plan.saves = false;
        for (auto _ : state) {
            result = DriveLoad(plan);
            state.SetIterationTime(result.seconds);
        }
    }
    ReportLoad(state, result);
    state.SetLabel(std::string(pooled ? "pelo PgBouncer (transação)" : "direto") +
                   ", 16 clientes, GetParamForn");
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
        benchmark::RegisterBenchmark("BM_PostgresLoadsPooled", BM_PostgresLoadsPooled)
            ->Arg(0)
            ->Arg(1)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
