// The supplier parameters in bulk through the real programs: kx-params exporting every supplier
// and running the dry run of that file, over 10,000 and 100,000 suppliers, on SQLite and, when
// KX_TEST_PG names a server, on PostgreSQL. Rows per second, and the client's peak memory, which
// must stay flat in the number of rows (the file is streamed, never held).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <soci/soci.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Schema.h"
#include "ServerHarness.h"
#include "TestDatabase.h"

namespace {

const char* const kPassword = "senha-do-bench-1";

// A database of n suppliers, one in three with a stored row, and a server on it.
class Suppliers {
public:
    Suppliers(bool postgres, int n)
        : db_(postgres ? "postgresql" : "sqlite", TestDatabase::Init::Empty) {
        const std::string& url = db_.Url();
        {
            soci::session s;
            kxsql::OpenSession(s, url);
            for (const std::string& statement : kxsql::SchemaStatements(kxsql::EngineOfUrl(url)))
                s << statement;
            const std::string count = std::to_string(n);
            const std::string params =
                "INSERT INTO PARAMFORNE (CDFORNECED, NRDIASBLOQNFFOR, IDBLQNFRELAFOAF, "
                "IDOBRIMPXMLNF, IDSIMPLESNACIONAL, VRMAXPERMFORN, CDPRODCONSREPE) "
                "SELECT CDFORNECED, 30, 'S', 'N', 'S', 1500.5, NULL FROM FORNECEDOR "
                "WHERE CAST(CDFORNECED AS INTEGER) % 3 = 0";
            if (postgres) {
                s << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, "
                     "IDTPIJURFORN) SELECT lpad(x::text, 7, '0'), lpad((x * 7919::bigint)::text, "
                     "14, '0'), 'Fornecedor ' || x, 'J' FROM generate_series(1, " +
                         count + ") AS x";
            } else {
                s << "BEGIN";
                s << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, "
                     "IDTPIJURFORN) WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM "
                     "c WHERE x < " +
                         count +
                         ") SELECT printf('%07d', x), printf('%014d', x * 7919), "
                         "'Fornecedor ' || x, 'J' FROM c";
                s << "COMMIT";
            }
            s << params;
            s << "ANALYZE";
        }
        AddOperator(url, "bench", kPassword);
        server_ = std::make_unique<ServerProcess>(url, std::vector<std::string>{"--auth", "on"});
        file_ = dir_.Path() + "/parametros.csv";
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(server_->Port()); }
    const std::string& File() const { return file_; }

private:
    TestDatabase db_;
    std::unique_ptr<ServerProcess> server_;
    TempDir dir_;
    std::string file_;
};

Suppliers& Data(bool postgres, int n) {
    static std::map<std::pair<bool, int>, std::unique_ptr<Suppliers>> made;
    auto& slot = made[{postgres, n}];
    if (!slot) slot = std::make_unique<Suppliers>(postgres, n);
    return *slot;
}

struct Run {
    double seconds = 0;
    long peakKb = 0;
    int code = -1;
};

Run KxParams(const Suppliers& data, const std::vector<std::string>& args) {
    std::vector<std::string> all = {KX_BIN_DIR "/kx-params"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"--server", data.Address(), "--operator", "bench"});
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        setenv("KX_PASSWORD", kPassword, 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKb = usage.ru_maxrss;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

void Report(benchmark::State& state, const Run& run, int n) {
    state.SetIterationTime(run.seconds);
    state.counters["rows_per_s"] = n / run.seconds;
    state.counters["peak_mb"] = static_cast<double>(run.peakKb) / 1024;
    state.SetLabel(std::to_string(static_cast<long long>(n / run.seconds)) + " linhas/s, pico " +
                   std::to_string(run.peakKb / 1024) + " MB no kx-params (" + std::to_string(n) +
                   " fornecedores)");
}

void Export(benchmark::State& state, bool postgres, int n) {
    Suppliers& data = Data(postgres, n);
    for (auto _ : state) {
        const Run run = KxParams(data, {"export", "--to", data.File()});
        if (run.code != 0) {
            state.SkipWithError("kx-params export falhou");
            return;
        }
        Report(state, run, n);
    }
}

void DryRun(benchmark::State& state, bool postgres, int n) {
    Suppliers& data = Data(postgres, n);
    if (access(data.File().c_str(), R_OK) != 0 &&
        KxParams(data, {"export", "--to", data.File()}).code != 0) {
        state.SkipWithError("kx-params export falhou");
        return;
    }
    for (auto _ : state) {
        const Run run = KxParams(data, {"import", data.File(), "--dry-run"});
        if (run.code != 0) {
            state.SkipWithError("kx-params import --dry-run falhou ou recusou linhas");
            return;
        }
        Report(state, run, n);
    }
}

void Register(bool postgres) {
    const std::string engine = postgres ? "/postgresql" : "/sqlite";
    for (int n : {10000, 100000}) {
        using Fn = void (*)(benchmark::State&, bool, int);
        const std::pair<const char*, Fn> kinds[] = {{"BulkExport", Export}, {"BulkDryRun", DryRun}};
        for (const auto& [name, fn] : kinds)
            benchmark::RegisterBenchmark(
                (std::string(name) + "/" + std::to_string(n) + engine).c_str(),
                [fn, postgres, n](benchmark::State& s) { fn(s, postgres, n); })
                ->UseManualTime()
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
    }
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Register(false);
    if (std::getenv("KX_TEST_PG")) Register(true);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
