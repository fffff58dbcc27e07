// The storage layer when the database falters in the middle of a call: a COMMIT whose answer is
// lost, connections the database dropped between calls, a database that takes no more writes.
// The server's module and Database run in this process, so a fault can be put exactly there.
#include "ServerHarness.h"

#include "Database.h"
#include "IdempotencyStore.h"
#include "Operators.h"
#include "RdmParamForne.h"
#include "RpcError.h"

#include <soci/sqlite3/soci-sqlite3.h>

#include <atomic>
#include <future>

namespace {

// What libpq says when the server goes away under a statement.
const char* kClosed = "server closed the connection unexpectedly";

class DatabaseFaults : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "postgresql" && !std::getenv("KX_TEST_PG"))
            GTEST_SKIP() << "KX_TEST_PG não definido: sem servidor PostgreSQL para os testes";
        db_ = std::make_unique<TestDatabase>(GetParam(), TestDatabase::Init::InProcess);
        database_ = std::make_unique<Database>(db_->Url());
        // Its own commit comes with the process's first keyed save: done now, out of the way.
        PurgeExpiredIdempotencyKeys(*database_);
    }
    void TearDown() override { database_.reset(); }

    // The module's answer, or {"code": N} for the RpcError it raised.
    json Call(const std::string& method, const json& params,
              std::optional<std::string> key = std::nullopt, std::string* logged = nullptr) {
        CallContext ctx{*database_, std::string("ana"), "2026-12-08", "2026-12-08 10:00:00", "",
                        false,      std::move(key)};
        try {
            json answer = module_.Call(method, params, ctx);
            if (logged) *logged = ctx.confirmedAfter;
            return ctx.resultText.empty() ? answer : json::parse(ctx.resultText);
        } catch (const RpcError& e) {
            return {{"code", e.Code()}, {"message", e.what()}};
        }
    }
    json Packet(const std::string& code) { return Call("GetParamForn", {code})[1]; }
    // The fault fails once, at the point named.
    void FailOnceAt(const std::string& point, const std::string& message = kClosed) {
        auto armed = std::make_shared<std::atomic<bool>>(true);
        database_->SetFaultHook([=](const char* at) {
            if (point == at && armed->exchange(false)) throw soci::soci_error(message);
        });
    }

    std::unique_ptr<TestDatabase> db_;
    std::unique_ptr<Database> database_;
    RdmParamForne module_;
};

} // namespace

// A save whose COMMIT connection broke is answered by what the database holds: saved once when
// the commit got there, the database error when it did not (and then the client's repeat with
// the same key applies it once); with no key to look up, the outcome is unknown.
TEST_P(DatabaseFaults, ABrokenCommitIsAnsweredByWhatTheDatabaseHolds) {
    struct Case {
        const char* what;
        const char* point;
        bool keyed;
        json answer; // the first answer, or its error code
        size_t auditAfterFirst;
    };
    const std::vector<Case> cases = {
        {"commit reached the database", "committed", true, json::array({"S"}), 1},
        {"commit never reached it", "commit", true, -32002, 0},
        {"no key to look up", "committed", false, -32006, 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string code = "00000" + std::to_string(++n);
        const json delta = UpdateDelta(Packet(code), {{"IDUTPRIGXML", "S"}});
        const std::optional<std::string> key =
            c.keyed ? std::optional<std::string>("chave-" + code) : std::nullopt;
        FailOnceAt(c.point);
        std::string logged;
        const json first = Call("SetParamForn", {delta, false}, key, &logged);
        database_->SetFaultHook({});
        if (c.answer.is_array()) {
            EXPECT_EQ(first, c.answer) << c.what;
            EXPECT_NE(logged.find(kClosed), std::string::npos) << c.what << ": " << logged;
        } else {
            EXPECT_EQ(first.value("code", 0), c.answer) << c.what << ": " << first.dump();
        }
        EXPECT_EQ(db_->LogRows(code).size(), c.auditAfterFirst) << c.what;
        if (!c.keyed) continue;
        // The client's repeat: applied once in all.
        EXPECT_EQ(Call("SetParamForn", {delta, false}, key), json::array({"S"})) << c.what;
        EXPECT_EQ(db_->LogRows(code).size(), 1u) << c.what;
        EXPECT_EQ(db_->ParamRow(code)->at("IDUTPRIGXML"), "S") << c.what;
    }
    EXPECT_EQ(database_->UnconfirmedCommits(), 2); // the keyed ones were looked up
}

// Sessions the database dropped while idle (what a restart does to them): the session check,
// the load and the history each succeed at the first call, on fresh sessions.
TEST_P(DatabaseFaults, ConnectionsDroppedBetweenCallsCostNoCall) {
    if (GetParam() != "postgresql") GTEST_SKIP() << "SQLite não tem conexão que caia";
    AddOperator(db_->Url(), "ana", "senha-da-ana");
    std::string token;
    ASSERT_EQ(OpenSession(*database_, "ana", "senha-da-ana", 3600, token), LoginResult::Ok);
    // Three sessions in the pool, all of them to be dropped.
    std::promise<void> go;
    std::shared_future<void> all = go.get_future().share();
    std::atomic<int> holding{0};
    std::vector<std::future<void>> calls;
    for (int i = 0; i < 3; ++i)
        calls.push_back(std::async(std::launch::async, [&] {
            database_->Run([&](DbCall&) -> json {
                if (++holding == 3) go.set_value();
                all.wait();
                return nullptr;
            });
        }));
    for (auto& c : calls)
        c.get();
    ASSERT_EQ(database_->OpenSessions(), 3);
    db_->Admin() << "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                        db_->Name() + "' AND pid <> pg_backend_pid()";
    db_->CloseSql();

    EXPECT_EQ(SessionOperator(*database_, token), "ana");
    EXPECT_EQ(Call("GetParamForn", {"000001"})[0], "S");
    EXPECT_EQ(Call("GetLogParamForn", {"000001", 0, 10})[0], "S");
    EXPECT_EQ(database_->Retries(), 1); // the dead sessions went together
    EXPECT_EQ(database_->OpenSessions(), 1);
}

// A database that takes no writes is told apart from one that does, with the library's reason;
// a write it refused counts for a while even when a later probe would pass.
TEST_P(DatabaseFaults, WriteProblemNamesWhyTheDatabaseTakesNoWrites) {
    EXPECT_EQ(database_->WriteProblem(), "");
    struct Case {
        const char* what;
        const char* point;
        const char* library;
    };
    const std::vector<Case> cases = {
        {"full", "write-probe", "could not extend file: No space left on device"},
        {"read-only", "write-probe", "cannot execute UPDATE in a read-only transaction"},
    };
    for (const Case& c : cases) {
        FailOnceAt(c.point, c.library);
        EXPECT_EQ(database_->WriteProblem(), c.library) << c.what;
        EXPECT_EQ(database_->WriteProblem(), "") << c.what << ": the fault is gone";
    }
    database_->SetFaultHook({});

    // A real refusal of a save's write: remembered until a commit succeeds.
    const json delta = UpdateDelta(Packet("000001"), {{"IDUTPRIGXML", "S"}});
    if (GetParam() == "postgresql") {
        db_->Admin() << "ALTER DATABASE " + db_->Name() + " SET default_transaction_read_only = on";
        db_->Admin() << "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                            db_->Name() + "' AND pid <> pg_backend_pid()";
        db_->CloseSql();
    } else {
        // SQLite: a commit refused as a full disk refuses it (the real disk is in OpsTest).
        database_->SetFaultHook([](const char* at) {
            if (std::string(at) == "commit")
                throw soci::sqlite3_soci_error("database or disk is full", 13);
        });
    }
    EXPECT_EQ(Call("SetParamForn", {delta, false}).value("code", 0), -32002);
    const std::string problem = database_->WriteProblem();
    EXPECT_NE(problem.find(GetParam() == "postgresql" ? "read-only" : "disk is full"),
              std::string::npos)
        << problem;
    if (GetParam() == "postgresql") {
        db_->Admin() << "ALTER DATABASE " + db_->Name() +
                            " SET default_transaction_read_only = off";
        db_->Admin() << "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                            db_->Name() + "' AND pid <> pg_backend_pid()";
    }
    database_->SetFaultHook({});
    EXPECT_EQ(Call("SetParamForn", {delta, false}), json::array({"S"}));
    EXPECT_EQ(database_->WriteProblem(), "");
}

// An answer of another shape than the statement reads (a pooler that mixed up two clients'
// statements gives one) fails the call as a database failure instead of filling the variables;
// such failures make the calls not ready once they are more than a lone one among many.
TEST_P(DatabaseFaults, AnAnswerOfAnotherShapeFailsTheCall) {
    const bool pg = GetParam() == "postgresql";
    struct Case {
        const char* sql;
        int reads; // integer variables reading it
        bool fails;
    };
    std::vector<Case> cases = {
        {"SELECT 7", 1, false},
        {"SELECT 7, 8", 1, true},
        {"SELECT 7", 2, true},
    };
    if (pg) cases.push_back({"SELECT CAST('7' AS TEXT)", 1, true}); // SQLite has no column types
    for (const Case& c : cases) {
        long long first = -1, second = -1;
        int code = 0;
        try {
            database_->Run([&](DbCall& db) -> json {
                Query query(db, c.sql);
                query.Into(first);
                if (c.reads == 2) query.Into(second);
                query.Run();
                return nullptr;
            });
        } catch (const RpcError& e) {
            code = e.Code();
        }
        EXPECT_EQ(code, c.fails ? -32002 : 0) << c.sql;
        if (!c.fails) {
            EXPECT_EQ(first, 7) << c.sql;
        }
    }

    struct Mix {
        int failed, ok;
        bool ready;
    };
    for (const Mix m : {Mix{2, 0, true}, Mix{3, 0, false}, Mix{3, 9, false}, Mix{3, 20, true}}) {
        database_->ForgetCallFailures();
        for (int i = 0; i < m.ok; ++i)
            database_->Run([](DbCall&) -> json { return nullptr; });
        for (int i = 0; i < m.failed; ++i)
            EXPECT_THROW(database_->Run([](DbCall& db) -> json {
                long long n = 0;
                Query(db, "SELECT 1, 2").Into(n).Run();
                return nullptr;
            }),
                         RpcError);
        const std::string problem = database_->CallProblem();
        EXPECT_EQ(problem.empty(), m.ready) << m.failed << "/" << m.ok << ": " << problem;
    }
}

// Nothing a call leaves on its PostgreSQL session would meet another client behind a pooler that
// hands the session on: no named prepared statement, no setting made for the session (bar the
// float digits the database library sets at connect, the same for every client of ours).
TEST_P(DatabaseFaults, CallsLeaveNoPreparedStatementOrSettingOnTheSession) {
    if (GetParam() != "postgresql") GTEST_SKIP() << "só o PostgreSQL guarda comandos na sessão";
    const json packet = Packet("000001");
    ASSERT_EQ(Call("SetParamForn", {UpdateDelta(packet, {{"IDUTPRIGXML", "S"}}), false}, "k-1"),
              json::array({"S"}));
    EXPECT_EQ(Call("GetLogParamForn", {"000001", 0, 10})[0], "S");
    long long prepared = -1;
    std::string settings;
    database_->Run([&](DbCall& db) -> json {
        Query(db, "SELECT COUNT(*) FROM pg_prepared_statements").Into(prepared).Run();
        Query(db, "SELECT COALESCE(string_agg(name, ',' ORDER BY name), '') FROM pg_settings "
                  "WHERE source = 'session'")
            .Into(settings)
            .Run();
        return nullptr;
    });
    EXPECT_EQ(prepared, 0);
    EXPECT_EQ(settings, "extra_float_digits");
}

KX_ENGINES(DatabaseFaults);

// A call's preamble (its session check) runs first, on the work's session and, on SQLite, in
// one read transaction with the work's reads. One that fails keeps every later Run of the call
// from its work, even when the call swallowed the failure and went on.
TEST_P(DatabaseFaults, APreambleRunsFirstInTheWorksTransactionAndAFailedOneHoldsBackLaterWork) {
    const auto count = [](DbCall& db) {
        long long n = 0;
        Query(db, "SELECT COUNT(*) FROM PARAMFORNELOG").Into(n).Run();
        return n;
    };
    const auto writeElsewhere = [&] {
        db_->Sql() << "INSERT INTO PARAMFORNELOG (CDFORNECED, DTALTERACAO, CDOPERADOR, NMCAMPO) "
                      "VALUES ('000001', '2026-12-08 10:00:00', 'bia', 'IDSIMPLESNACIONAL')";
    };
    long long before = -1, during = -1;
    database_->SetPreamble([&](DbCall& db) {
        before = count(db);
        writeElsewhere(); // committed by another session between the preamble and the work
    });
    database_->Run([&](DbCall& db) -> json {
        during = count(db);
        return nullptr;
    });
    // SQLite reads both from one snapshot; PostgreSQL reads each statement's committed data.
    EXPECT_EQ(during, before + (db_->IsSqlite() ? 0 : 1));
    EXPECT_FALSE(database_->TakePreamble()) << "a preamble runs once";

    int works = 0;
    database_->SetPreamble([](DbCall&) { throw RpcError(kRpcUnauthorized, "sem sessão"); });
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            database_->Run([&](DbCall& db) -> json {
                ++works;
                db.Begin();
                writeElsewhere();
                db.Commit();
                return nullptr;
            });
            ADD_FAILURE() << "the work ran past a failed preamble";
        } catch (const RpcError& e) {
            EXPECT_EQ(e.Code(), kRpcUnauthorized);
        }
    }
    EXPECT_EQ(works, 0);
    EXPECT_TRUE(database_->TakePreamble()) << "still set after failing";
}
