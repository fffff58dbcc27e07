// The supplier lookups over a million suppliers, on SQLite and, when KX_TEST_PG names a server,
// on PostgreSQL: the search list's first rows, the lookup by inscription, the host client's peak
// memory with the list open, and the floors they are compared with. The data is generated here,
// in a temporary database that goes away with the program.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <soci/soci.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "LookupQueries.h"
#include "Schema.h"
#include "TestDatabase.h"
#include "brx/BtnPesquisa.h"

namespace {

constexpr int kSuppliers = 1000000;
constexpr int kListRows = 200; // what the list shows first
const std::vector<const char*> kColumns = {"CDFORNECED", "NRINSJURFORN", "NMRAZSOCFORN",
                                           "IDTPIJURFORN"};

// The inscription of supplier n: 14 digits, spread over the range so the index is no sequence.
String Inscription(long long n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%014lld", n * 7919LL);
    return buf;
}

long RssKb() {
    std::ifstream in("/proc/self/statm");
    long pages = 0, resident = 0;
    in >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A database of kSuppliers suppliers with the server's schema (and its indexes).
class Million {
public:
    explicit Million(bool postgres)
        : db_(postgres ? "postgresql" : "sqlite", TestDatabase::Init::Empty) {
        const std::string& url = db_.Url();
        soci::session s;
        kxsql::OpenSession(s, url);
        for (const std::string& statement : kxsql::SchemaStatements(kxsql::EngineOfUrl(url)))
            s << statement;
        const std::string n = std::to_string(kSuppliers);
        if (postgres) {
            s << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN) "
                 "SELECT lpad(x::text, 7, '0'), lpad((x * 7919::bigint)::text, 14, '0'), "
                 "'Fornecedor ' || x, CASE x % 3 WHEN 0 THEN 'F' ELSE 'J' END "
                 "FROM generate_series(1, " +
                     n + ") AS x";
            s << "ANALYZE";
        } else {
            s << "BEGIN";
            s << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN) "
                 "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " +
                     n +
                     ") SELECT printf('%07d', x), printf('%014d', x * 7919), 'Fornecedor ' || x, "
                     "CASE x % 3 WHEN 0 THEN 'F' ELSE 'J' END FROM c";
            s << "COMMIT";
            s << "ANALYZE";
        }
        connection_ = std::make_unique<TADOConnection>(nullptr);
        connection_->Open(url);
    }
    ~Million() { connection_.reset(); }
    const std::string& Url() const { return db_.Url(); }
    TADOConnection* Connection() { return connection_.get(); }

private:
    TestDatabase db_; // dropped after the connection closed
    std::unique_ptr<TADOConnection> connection_;
};

Million& Data(bool postgres) {
    static std::unique_ptr<Million> sqlite, pg;
    auto& slot = postgres ? pg : sqlite;
    if (!slot) slot = std::make_unique<Million>(postgres);
    return *slot;
}

// The supplier lookup as the screen's form defines it, on the connection.
struct Lookup {
    explicit Lookup(TADOConnection* c)
        : query(NewLookupQuery(&root, "qryFornecedor", kFornecedorSql, kColumns)) {
        query->SetADOConnection(c);
        for (const char* f : kColumns)
            fields.push_back(query->FieldByName(f));
    }
    void Open(const String& inscription, const String& all) {
        query->Close();
        query->ParamByName("P_NRINSJURFORN").SetAsString(inscription);
        query->ParamByName("P_TNRINSJURFORN").SetAsString(all);
        query->Open();
    }
    TComponent root{nullptr};
    TADOIBQuery* query;
    std::vector<TField*> fields;
};

// Click to first rows: the list opens the query and shows its first rows, as the search list
// of the host client does; the memory the process grew by with the list open.
void SupplierList(benchmark::State& state, bool postgres) {
    Million& data = Data(postgres);
    Lookup lookup(data.Connection());
    long grown = 0;
    for (auto _ : state) {
        const long before = RssKb();
        lookup.Open("", "T");
        TDataSetPickSource rows(lookup.query->Query(), lookup.fields);
        const int known = rows.Fetch(kListRows);
        for (int i = 0; i < known; ++i)
            benchmark::DoNotOptimize(rows.Row(i));
        grown = std::max(grown, RssKb() - before);
        if (known != kListRows) state.SkipWithError("a lista não tem as primeiras linhas");
        lookup.query->Close();
    }
    state.counters["rss_growth_kb"] = static_cast<double>(grown);
    state.SetLabel(std::to_string(kListRows) + " primeiras linhas de 1.000.000");
}

// Floor of the list: the rows the list shows first, read straight from the database.
void SupplierListFloor(benchmark::State& state, bool postgres) {
    soci::session s;
    kxsql::OpenSession(s, Data(postgres).Url());
    for (auto _ : state) {
        soci::rowset<soci::row> rs = s.prepare << "SELECT CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, "
                                                  "IDTPIJURFORN FROM FORNECEDOR ORDER BY "
                                                  "IDTPIJURFORN, NRINSJURFORN LIMIT " +
                                                      std::to_string(kListRows);
        int n = 0;
        for (const soci::row& r : rs) {
            benchmark::DoNotOptimize(r.get<std::string>(0));
            ++n;
        }
        if (n != kListRows) state.SkipWithError("linhas faltando");
    }
    // The label names the floor's query in the table; it is never run.
    state.SetLabel("SELECT ... ORDER BY ... LIMIT " + std::to_string(kListRows) + ", direto");
}

// Scrolling the list through its first 2,000 rows (ten batches): on PostgreSQL each batch comes
// from a cursor declared in a transaction of its own, moved past the rows read.
constexpr int kScrollRows = 2000;
void SupplierListScroll(benchmark::State& state, bool postgres) {
    Lookup lookup(Data(postgres).Connection());
    for (auto _ : state) {
        lookup.Open("", "T");
        TDataSetPickSource rows(lookup.query->Query(), lookup.fields);
        if (rows.Fetch(kScrollRows) != kScrollRows) state.SkipWithError("linhas faltando");
        lookup.query->Close();
    }
    state.SetLabel(std::to_string(kScrollRows) + " linhas, um cursor por lote");
}

// The same rows from one cursor kept open in one transaction, as the list read them before it
// ended its transaction after each batch.
void SupplierListScrollOneCursor(benchmark::State& state, bool postgres) {
    soci::session s;
    kxsql::OpenSession(s, Data(postgres).Url());
    for (auto _ : state) {
        s << "BEGIN READ ONLY";
        s << "DECLARE kx_bench NO SCROLL CURSOR FOR SELECT CDFORNECED, NRINSJURFORN, "
             "NMRAZSOCFORN, IDTPIJURFORN FROM FORNECEDOR ORDER BY IDTPIJURFORN, NRINSJURFORN";
        int n = 0;
        for (int batch = 0; batch < kScrollRows / 200; ++batch) {
            soci::row r;
            soci::statement st(s);
            st.exchange(soci::into(r));
            st.alloc();
            st.prepare("FETCH FORWARD 200 FROM kx_bench", soci::details::st_one_time_query);
            st.define_and_bind();
            for (bool got = st.execute(true); got; got = st.fetch()) {
                benchmark::DoNotOptimize(r.get<std::string>(0));
                ++n;
            }
        }
        s << "COMMIT";
        if (n != kScrollRows) state.SkipWithError("linhas faltando");
    }
    state.SetLabel(std::to_string(kScrollRows) + " linhas, um cursor numa transação (antes)");
}

// The total the scripted list shows, counted by the database.
void SupplierCount(benchmark::State& state, bool postgres) {
    Lookup lookup(Data(postgres).Connection());
    for (auto _ : state) {
        lookup.Open("", "T");
        if (lookup.query->CountRecords() != kSuppliers) state.SkipWithError("contagem errada");
        lookup.query->Close();
    }
}

// The lookup by inscription after the user leaves the field, and its floor: an indexed
// equality on the column.
void InscriptionLookup(benchmark::State& state, bool postgres) {
    Lookup lookup(Data(postgres).Connection());
    long long n = 1;
    for (auto _ : state) {
        n = n * 48271 % kSuppliers + 1;
        lookup.Open(Inscription(n), "");
        if (lookup.query->IsEmpty()) state.SkipWithError("fornecedor não encontrado");
    }
    lookup.query->Close();
}

void InscriptionLookupFloor(benchmark::State& state, bool postgres) {
    soci::session s;
    kxsql::OpenSession(s, Data(postgres).Url());
    std::string inscription, code;
    soci::statement st = (s.prepare << "SELECT CDFORNECED FROM FORNECEDOR WHERE NRINSJURFORN = :i",
                          soci::use(inscription), soci::into(code));
    long long n = 1;
    for (auto _ : state) {
        n = n * 48271 % kSuppliers + 1;
        inscription = Inscription(n);
        st.execute(true);
        if (!st.got_data()) state.SkipWithError("fornecedor não encontrado");
    }
    state.SetLabel("igualdade indexada, comando preparado");
}

// The host client's peak memory and time, headless, opening the screen and the supplier list
// (the scripted list reads its first 100 rows and the count) against the database, compared with
// opening the screen alone.
struct HostRun {
    double seconds = 0;
    long peakKb = 0;
    bool ok = false;
};

HostRun RunHostapp(const std::string& db, const std::string& script) {
    char path[] = "/tmp/kx-bench-script-XXXXXX";
    const int fd = mkstemp(path);
    HostRun run;
    if (fd < 0) return run;
    (void)!write(fd, script.data(), script.size());
    close(fd);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        const std::string bin = std::string(KX_BIN_DIR) + "/hostapp";
        execl(bin.c_str(), bin.c_str(), "--db", db.c_str(), "--server", "127.0.0.1:9", "--script",
              path, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKb = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    unlink(path);
    return run;
}

void HostappSupplierList(benchmark::State& state, bool postgres) {
    const std::string db = Data(postgres).Url();
    HostRun alone, list;
    for (auto _ : state) {
        alone = RunHostapp(db, "{\"do\":\"open\"}\n");
        list = RunHostapp(db, "{\"do\":\"open\"}\n{\"do\":\"pick\",\"control\":\"btpFornecedor\","
                              "\"cancel\":true}\n");
        state.SetIterationTime(list.seconds);
    }
    if (!alone.ok || !list.ok) state.SkipWithError("hostapp falhou");
    state.counters["peak_mb"] = static_cast<double>(list.peakKb) / 1024;
    state.counters["peak_without_list_mb"] = static_cast<double>(alone.peakKb) / 1024;
    state.SetLabel("pico " + std::to_string(list.peakKb / 1024) + " MB com a lista, " +
                   std::to_string(alone.peakKb / 1024) + " MB sem ela");
}

void Register(bool postgres) {
    const std::string engine = postgres ? "/postgresql" : "/sqlite";
    auto add = [&](const char* name, void (*fn)(benchmark::State&, bool)) {
        return benchmark::RegisterBenchmark(
            (name + engine).c_str(), [fn, postgres](benchmark::State& s) { fn(s, postgres); });
    };
    add("SupplierList", SupplierList)->Unit(benchmark::kMillisecond);
    add("SupplierListFloor", SupplierListFloor)->Unit(benchmark::kMillisecond);
    add("SupplierListScroll", SupplierListScroll)->Unit(benchmark::kMillisecond);
    if (postgres)
        add("SupplierListScrollOneCursor", SupplierListScrollOneCursor)
            ->Unit(benchmark::kMillisecond);
    add("SupplierCount", SupplierCount)->Unit(benchmark::kMillisecond)->Iterations(3);
    add("InscriptionLookup", InscriptionLookup)->Unit(benchmark::kMicrosecond);
    add("InscriptionLookupFloor", InscriptionLookupFloor)->Unit(benchmark::kMicrosecond);
    add("HostappSupplierList", HostappSupplierList)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(1);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Register(false);
    if (const char* pg = std::getenv("KX_TEST_PG"); pg && *pg) Register(true);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
