// appserver init knows what it upgrades: the schema's version stamp, the steps from any earlier
// version (a database from before the stamp included), and a newer program's database left alone.
#include "ServerHarness.h"

#include "Schema.h"

#include <set>
#include <thread>

namespace {

class SchemaTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "postgresql" && !std::getenv("KX_TEST_PG"))
            GTEST_SKIP() << "KX_TEST_PG não definido: sem servidor PostgreSQL para os testes";
    }
    // The tables and indexes of the database, by name.
    static std::set<std::string> Objects(TestDatabase& db) {
        soci::rowset<std::string> rows =
            db.Sql().prepare << (db.IsSqlite()
                                     ? "SELECT UPPER(name) FROM sqlite_master WHERE type IN "
                                       "('table', 'index') AND name NOT LIKE 'sqlite_%'"
                                     : "SELECT UPPER(tablename) FROM pg_tables WHERE schemaname "
                                       "= current_schema() UNION SELECT UPPER(indexname) FROM "
                                       "pg_indexes WHERE schemaname = current_schema()");
        return {rows.begin(), rows.end()};
    }
    static int Stamp(TestDatabase& db) {
        return kxsql::StoredSchemaVersion(db.Sql(), db.IsSqlite() ? kxsql::Engine::SQLite
                                                                  : kxsql::Engine::PostgreSQL);
    }
};

} // namespace

TEST_P(SchemaTest, InitUpgradesFromAnyEarlierVersionAndLeavesANewerOneAlone) {
    TestDatabase fresh(GetParam(), TestDatabase::Init::Empty);
    ASSERT_EQ(RunAppserver({"init", "--db", fresh.Url()}).exitCode, 0);
    EXPECT_EQ(Stamp(fresh), kxsql::kSchemaVersion);
    const std::set<std::string> current = Objects(fresh);

    // Version 0 is a database from before the stamp, with everything up to the operators.
    for (int from = 0; from <= kxsql::kSchemaVersion + 1; ++from) {
        SCOPED_TRACE("versão " + std::to_string(from));
        TestDatabase db(GetParam(), TestDatabase::Init::Empty);
        const bool newer = from > kxsql::kSchemaVersion;
        kxsql::InitDatabase(db.Url(), false, from == 0 ? 4 : std::min(from, kxsql::kSchemaVersion));
        db.Sql() << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, "
                    "IDTPIJURFORN) VALUES ('777777', '52998224725', 'Antigo', 'F')";
        if (from == 0 || newer) {
            if (newer) db.Sql() << "DROP INDEX IXFALHAENTRADA1"; // stays dropped
            if (db.IsSqlite())
                db.Sql() << "PRAGMA user_version = " + std::to_string(from);
            else
                db.Sql() << (newer ? "INSERT INTO VERSAOESQUEMA VALUES (" + std::to_string(from) +
                                         ", 0)"
                                   : std::string("DROP TABLE VERSAOESQUEMA"));
        }
        const std::set<std::string> before = Objects(db);
        const RunResult r = RunAppserver({"init", "--db", db.Url(), "--demo"});
        int kept = 0;
        db.Sql() << "SELECT COUNT(*) FROM FORNECEDOR WHERE CDFORNECED = '777777'", soci::into(kept);
        EXPECT_EQ(kept, 1);
        EXPECT_EQ(r.exitCode, newer ? 1 : 0) << r.err;
        EXPECT_EQ(Stamp(db), newer ? from : kxsql::kSchemaVersion);
        EXPECT_EQ(Objects(db), newer ? before : current);
        if (newer) {
            EXPECT_NE(r.err.find("tem o esquema na versão " + std::to_string(from) +
                                 ", de um appserver mais novo"),
                      std::string::npos)
                << r.err;
        }
    }

    // Servers starting together each run init on one database: they take turns, none fails.
    TestDatabase together(GetParam(), TestDatabase::Init::Empty);
    std::vector<RunResult> results(4);
    std::vector<std::thread> inits;
    for (RunResult& r : results)
        inits.emplace_back([&] { r = RunAppserver({"init", "--db", together.Url(), "--demo"}); });
    for (std::thread& t : inits)
        t.join();
    for (const RunResult& r : results)
        EXPECT_EQ(r.exitCode, 0) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Engines, SchemaTest, ::testing::Values("sqlite", "postgresql"),
                         EngineName);
