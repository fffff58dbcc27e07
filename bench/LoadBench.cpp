// One appserver under 4, 16 and 64 clients on kept connections, half the calls saves: calls per
// second and the latency of the calls, per database engine (PostgreSQL when KX_TEST_PG names a
// server). The server runs as in production, sessions required; each client works on a supplier
// of its own, so the saves do not wait on one another's rows.
#include "LoadDriver.h"
#include "ServerProcess.h"
#include "TestDatabase.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "net/NetConnection.h"

namespace {

constexpr const char* kOperator = "carga";
constexpr const char* kPassword = "senha-da-carga";
constexpr int kMaxClients = 64;

std::string SupplierCode(int i) {
    char code[16];
    std::snprintf(code, sizeof code, "C%05d", i + 1);
    return code;
}

// The demo database plus kMaxClients suppliers with the parameters of 000001, an operator, and
// the server on a loopback port.
class LoadServer {
public:
    explicit LoadServer(const std::string& engine)
        : engine_(engine), db_(Prepared(engine)), server_(db_->Url(), {"--auth", "on"}) {}
    const std::string& Engine() const { return engine_; }
    int Port() const { return server_.Port(); }

private:
    static std::unique_ptr<TestDatabase> Prepared(const std::string& engine) {
        auto db = std::make_unique<TestDatabase>(engine, TestDatabase::Init::InProcess);
        soci::session& s = db->Sql();
        const std::string params =
            "NRDIASBLOQNFFOR, IDBLQNFRELAFOAF, IDOBRIMPXMLNF, IDOBRCHAVACESFO, IDVERINSFORCHNFE, "
            "IDSIMPLESNACIONAL, IMPVENCXML, IDREACONSIMPXML, IDBLOQALTPRODREL, IDPROCNOTADEBCRE, "
            "IDUTPRIGXML, VRMAXPERMFORN, CDGRPERMLANMAX, IDREACONFVRNF, IDUTDESCITBCST, "
            "IDCFOPCTEXML, IDIMPVENCXMLCTE, IDNGRAVARELAC, DTREACONSIMPXML, QTREPETEPRODNF, "
            "CDPRODCONSREPE";
        s << "BEGIN";
        for (int i = 0; i < kMaxClients; ++i) {
            std::string code = "'";
            code += SupplierCode(i);
            code += "'";
            s << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, "
                 "IDFORNEHOMO) SELECT " +
                     code + ", NRINSJURFORN, 'Fornecedor de carga ' || " + code +
                     ", IDTPIJURFORN, IDFORNEHOMO FROM FORNECEDOR WHERE CDFORNECED = '000001'";
            s << "INSERT INTO PARAMFORNE (CDFORNECED, " + params + ") SELECT " + code + ", " +
                     params + " FROM PARAMFORNE WHERE CDFORNECED = '000001'";
        }
        s << "COMMIT";
        db->CloseSql();
        const RunResult r = RunAppserver({"operator", "add", kOperator, "--db", db->Url()}, {},
                                         std::string(kPassword) + "\n");
        if (r.exitCode != 0) throw std::runtime_error("appserver operator add falhou: " + r.err);
        return db;
    }

    std::string engine_;
    std::unique_ptr<TestDatabase> db_;
    ServerProcess server_;
};

// The server of the engine being measured; the previous engine's stops first.
LoadServer& ServerFor(const std::string& engine) {
    static std::unique_ptr<LoadServer> current;
    if (!current || current->Engine() != engine) {
        current.reset();
        current = std::make_unique<LoadServer>(engine);
    }
    return *current;
}

void BM_Load(benchmark::State& state, const std::string& engine) {
    const int clients = static_cast<int>(state.range(0));
    LoadPlan plan;
    plan.ports = {ServerFor(engine).Port()};
    plan.clients = clients;
    for (int i = 0; i < clients; ++i)
        plan.suppliers.push_back(SupplierCode(i));
    plan.warmupSeconds = 1;
    plan.seconds = 4;
    LoadResult result;
    for (auto _ : state) {
        result = DriveLoad(plan);
        state.SetIterationTime(result.seconds);
    }
    ReportLoad(state, result);
    state.counters["clients"] = clients;
    state.SetLabel(std::string(engine == "sqlite" ? "SQLite" : "PostgreSQL") + ", " +
                   std::to_string(clients) + " clientes, metade gravações");
}

[[maybe_unused]] const bool kRegistered = [] {
    TNetConnection::SetOperator(kOperator);
    TNetConnection::SetPassword(kPassword);
    std::vector<std::string> engines = {"sqlite"};
    const char* pg = std::getenv("KX_TEST_PG");
    if (pg && *pg) engines.push_back("postgresql");
    for (const std::string& engine : engines)
        benchmark::RegisterBenchmark(("BM_Load/" + engine).c_str(), BM_Load, engine)
            ->Arg(4)
            ->Arg(16)
            ->Arg(kMaxClients)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace

BENCHMARK_MAIN();
