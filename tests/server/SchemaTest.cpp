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
};

kxsql::Engine EngineOf(const TestDatabase& db) {
    return db.IsSqlite() ? kxsql::Engine::SQLite : kxsql::Engine::PostgreSQL;
}

// The tables and indexes of the database, by name.
std::set<std::string> Objects(TestDatabase& db) {
    const std::string query =
        db.IsSqlite() ? "SELECT UPPER(name) FROM sqlite_master WHERE type IN ('table', 'index') "
                        "AND name NOT LIKE 'sqlite_%'"
                      : "SELECT UPPER(tablename) FROM pg_tables WHERE schemaname = "
                        "current_schema() UNION SELECT UPPER(indexname) FROM pg_indexes WHERE "
                        "schemaname = current_schema()";
    std::set<std::string> names;
    soci::rowset<std::string> rows = db.Sql().prepare << query;
    for (const std::string& name : rows)
        names.insert(name);
    return names;
}

int Stamp(TestDatabase& db) {
    return kxsql::StoredSchemaVersion(db.Sql(), EngineOf(db));
}

// A database as a program of that version left it; version 0 is one from before the stamp,
// which had everything up to the operators.
void MakeVersion(TestDatabase& db, int version) {
    kxsql::InitDatabase(db.Url(), false, version == 0 ? 4 : version);
    if (version > 0) return;
    if (db.IsSqlite())
        db.Sql() << "PRAGMA user_version = 0";
    else
        db.Sql() << "DROP TABLE VERSAOESQUEMA";
}

} // namespace

TEST_P(SchemaTest, InitUpgradesFromAnyEarlierVersionAndLeavesANewerOneAlone) {
    TestDatabase fresh(GetParam(), TestDatabase::Init::Empty);
    ASSERT_EQ(RunAppserver({"init", "--db", fresh.Url()}).exitCode, 0);
    EXPECT_EQ(Stamp(fresh), kxsql::kSchemaVersion);
    const std::set<std::string> current = Objects(fresh);

    for (int from = 0; from <= kxsql::kSchemaVersion + 1; ++from) {
        SCOPED_TRACE("versão " + std::to_string(from));
        TestDatabase db(GetParam(), TestDatabase::Init::Empty);
        const bool newer = from > kxsql::kSchemaVersion;
        MakeVersion(db, newer ? kxsql::kSchemaVersion : from);
        db.Sql() << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, "
                    "IDTPIJURFORN) VALUES ('777777', '52998224725', 'Antigo', 'F')";
        if (newer) {
            // What the newer program dropped stays dropped.
            db.Sql() << "DROP INDEX IXFALHAENTRADA1";
            if (db.IsSqlite())
                db.Sql() << "PRAGMA user_version = " + std::to_string(from);
            else
                db.Sql() << "INSERT INTO VERSAOESQUEMA (NRVERSAO, NRAPLICACAO) VALUES (" +
                                std::to_string(from) + ", 0)";
        }
        const std::set<std::string> before = Objects(db);
        const RunResult r = RunAppserver({"init", "--db", db.Url(), "--demo"});
        int kept = 0;
        db.Sql() << "SELECT COUNT(*) FROM FORNECEDOR WHERE CDFORNECED = '777777'", soci::into(kept);
        EXPECT_EQ(kept, 1);
        if (newer) {
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_NE(r.err.find("tem o esquema na versão " + std::to_string(from) +
                                 ", de um appserver mais novo"),
                      std::string::npos)
                << r.err;
            EXPECT_EQ(Objects(db), before);
            EXPECT_EQ(Stamp(db), from);
            continue;
        }
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Stamp(db), kxsql::kSchemaVersion);
        EXPECT_EQ(Objects(db), current);
    }
}

// Servers starting together each run init: they take their turns instead of failing.
TEST_P(SchemaTest, InitsRunningTogetherAllSucceed) {
    TestDatabase db(GetParam(), TestDatabase::Init::Empty);
    std::vector<RunResult> results(4);
    std::vector<std::thread> inits;
    for (RunResult& r : results)
        inits.emplace_back([&db, &r] { r = RunAppserver({"init", "--db", db.Url(), "--demo"}); });
    for (std::thread& t : inits)
        t.join();
    for (const RunResult& r : results)
        EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Stamp(db), kxsql::kSchemaVersion);
}

INSTANTIATE_TEST_SUITE_P(Engines, SchemaTest, ::testing::Values("sqlite", "postgresql"),
                         EngineName);
