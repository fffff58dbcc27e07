// Sessions to the one database of the server, lent to calls running on the worker threads.
// A session that failed is dropped, so the next call opens a fresh one: the server keeps
// serving once the database is back. Reconnecting, running again and finding out what a broken
// commit did all happen here, in Database::Run, and nowhere else.
#pragma once

#include "Schema.h"

#include <nlohmann/json.hpp>
#include <soci/soci.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

// Statements a pooled session keeps between calls, each with the variables it is bound to
// (Query): SQLite keeps them compiled, PostgreSQL is sent their text each time. They go with
// their session. A statement left partway would hold a read snapshot on SQLite: users read every
// SELECT to its end (Query::Drain).
class PreparedCache {
public:
    struct Entry {
        virtual ~Entry() = default;
    };
    // The entry under key; make() prepares it on first use.
    template <class T, class Make> T& Get(const std::string& key, Make make) {
        auto it = entries_.find(key);
        if (it == entries_.end()) {
            // Statements made of the changed columns vary: the cache stays bounded.
            if (entries_.size() >= kMaxEntries) entries_.clear();
            it = entries_.emplace(key, std::unique_ptr<Entry>(make())).first;
        }
        return static_cast<T&>(*it->second);
    }

private:
    static constexpr size_t kMaxEntries = 64;
    std::unordered_map<std::string, std::unique_ptr<Entry>> entries_;
};

class Database;

// One call's use of a session: the transaction it runs.
class DbCall {
public:
    DbCall(soci::session& sql, kxsql::Engine engine, PreparedCache* prepared = nullptr,
           Database* owner = nullptr)
        : sql_(sql), engine_(engine), prepared_(prepared ? prepared : &ownPrepared_),
          owner_(owner) {}
    soci::session& Sql() { return sql_; }
    PreparedCache& Prepared() { return *prepared_; }
    kxsql::Engine Engine() const { return engine_; }
    // SQLite takes the write lock at once, so that two writers never deadlock on an upgrade;
    // the server's own writers queue for it in order instead of polling the busy lock. A read
    // transaction open on the session (BeginRead) ends first.
    void Begin();
    void Commit();
    void Rollback();
    bool InTransaction() const { return inTransaction_; }
    // SQLite: one read transaction for the statements that follow, so a call takes the
    // database's read lock once (PostgreSQL: nothing, each statement is its own).
    void BeginRead();
    // Ends the read transaction, if one is open.
    void EndRead();
    bool Reading() const { return reading_; }
    // After the session was dropped mid-transaction: the next writer may go.
    void LeaveWriters() {
        if (writer_.owns_lock()) writer_.unlock();
    }
    bool CommitIssued() const { return commitIssued_; }
    // Where the database's fault hook (tests) may fail this call.
    void Fault(const char* point);

private:
    void Execute(const char* text);

    soci::session& sql_;
    kxsql::Engine engine_;
    PreparedCache ownPrepared_; // for a session without a pool slot
    PreparedCache* prepared_;
    Database* owner_;
    bool inTransaction_ = false;
    bool commitIssued_ = false;
    bool reading_ = false;
    std::unique_lock<std::mutex> writer_; // SQLite: this server's writers, one at a time
};

// What a variable takes from a column of an answer.
enum class ColumnKind { Text, Number, Integer };

// A statement of a call's session, with the variables its values come from and its rows go to.
// Kept in the session's PreparedCache, it runs again with new values. SQLite compiles it once;
// PostgreSQL is sent its text with every run as an unnamed statement (parsed, bound and run in one
// round trip), so nothing prepared outlives a transaction and a pooler that gives each
// transaction another server connection never runs one client's statement for another.
// Every answer is checked before its rows are used: as many columns as variables read, each of
// a type its variable takes (PostgreSQL); anything else fails the call as a database failure on
// that session, never a wrong row.
class Query {
public:
    Query(DbCall& db, std::string text);
    template <class T> Query& Into(T& value) {
        st_.exchange(soci::into(value));
        columns_.push_back(KindOf<T>());
        return *this;
    }
    template <class T> Query& Into(T& value, soci::indicator& ind) {
        st_.exchange(soci::into(value, ind));
        columns_.push_back(KindOf<T>());
        return *this;
    }
    template <class T> Query& Use(T& value) {
        st_.exchange(soci::use(value));
        return *this;
    }
    template <class T> Query& Use(T& value, soci::indicator& ind) {
        st_.exchange(soci::use(value, ind));
        return *this;
    }
    // Runs it with the variables' current values; true when a first row came into them.
    bool Run();
    // The next row into the variables; false at the end.
    bool Next() { return st_.fetch(); }
    // Reads the remaining rows, so the statement holds no snapshot while the session waits.
    void Drain() {
        while (Next()) {
        }
    }
    long long AffectedRows() { return st_.get_affected_rows(); }
    const std::string& Text() const { return text_; }

private:
    template <class T> static constexpr ColumnKind KindOf() {
        if constexpr (std::is_same_v<T, std::string>)
            return ColumnKind::Text;
        else if constexpr (std::is_floating_point_v<T>)
            return ColumnKind::Number;
        else {
            static_assert(std::is_integral_v<T>, "a column is read as text, number or integer");
            return ColumnKind::Integer;
        }
    }
    void CheckShape();

    soci::statement st_;
    kxsql::Engine engine_;
    std::string text_;
    std::vector<ColumnKind> columns_;
    bool prepared_ = false;
};

// What a call that wrote learns on a fresh session when its COMMIT failed (`failure`, the
// library's words): the answer the commit stored, or nothing when it did not happen.
using SettleCommit =
    std::function<std::optional<nlohmann::json>(DbCall&, const std::string& failure)>;

class Database {
public:
    explicit Database(std::string url);
    ~Database();

    kxsql::Engine Engine() const { return engine_; }
    const std::string& Url() const { return url_; }

    // Runs work with a session. A refusal (RpcError) rolls back and passes through; any other
    // failure rolls back, drops the session and becomes RpcError(kRpcDatabaseFailure). A pooled
    // session that fails before its commit was sent is replaced by a fresh one and the work run
    // once more: that is how a connection the database closed (idle, or in a restart) is noticed,
    // and a broken one takes the other idle sessions with it, opened before the same break.
    // A COMMIT that failed may still have been carried out: with `settle`, the call's outcome is
    // looked up on a fresh session (retried for a few seconds while the database is away) and
    // its answer returned; not found is the database failure, and a database that stays away is
    // RpcError(kRpcOutcomeUnknown). Without `settle`, a COMMIT whose connection broke is
    // RpcError(kRpcOutcomeUnknown) at once.
    nlohmann::json Run(const std::function<nlohmann::json(DbCall&)>& work,
                       const SettleCommit& settle = {});

    // Work that the next Run on this thread does first, on the same session and, on SQLite, in
    // one read transaction with the work's reads (a call's session check with the call's own
    // statements); what it throws fails that Run before its work starts, and stays set for the
    // next Run. Replaces one set before.
    using Preamble = std::function<void(DbCall&)>;
    void SetPreamble(Preamble preamble);
    // The preamble set on this thread and not yet run by a Run, which is forgotten.
    Preamble TakePreamble();

    // Opens a session now, to report an unreachable database at start; throws on failure.
    void Probe();

    // Why the database does not take writes now, or "" when it does: a write that is rolled
    // back (and on SQLite the files and the free space of their folder), or a write refused in
    // the last few seconds with no commit since. A database that does not answer, or lacks its
    // schema, is an RpcError as from Run.
    std::string WriteProblem();

    // Why the calls cannot be served now, or "" when they can: at least kFailedCalls of the calls
    // run in the last kWriteMemory failed on the database, and at least one in kFailedShare of
    // them, so a database that answers the probe but fails the calls (a pooler that breaks them,
    // a statement it refuses) is not ready either, while a lone failure among many calls is.
    std::string CallProblem();
    // The calls' failures counted so far no longer count (the database came back).
    void ForgetCallFailures();

    int OpenSessions() const { return openSessions_.load(std::memory_order_relaxed); }
    // Statements run again on a fresh session after theirs broke; commits whose answer was lost.
    long long Retries() const { return retries_.load(std::memory_order_relaxed); }
    long long UnconfirmedCommits() const { return unconfirmed_.load(std::memory_order_relaxed); }

    // Tests: fault(point) runs at points of every call ("commit" as a COMMIT is about to be sent,
    // "committed" once it returned, "write-probe" in WriteProblem's write); what it throws is
    // taken for the database library's failure there. Set while no call runs.
    using FaultHook = std::function<void(const char* point)>;
    void SetFaultHook(FaultHook fault) { fault_ = std::move(fault); }

    // How long Run keeps trying to settle a commit, and how long a refused write counts.
    static constexpr std::chrono::milliseconds kSettleWindow{5000};
    static constexpr std::chrono::seconds kWriteMemory{10};
    static constexpr int kFailedCalls = 3, kFailedShare = 4;

private:
    friend class DbCall;
    struct Slot;
    std::unique_ptr<Slot> Acquire(bool& fresh);
    std::unique_ptr<Slot> Open();
    bool StillValid(const Slot& slot) const;
    void Release(std::unique_ptr<Slot> slot);
    void DropIdle();
    nlohmann::json RunCall(const std::function<nlohmann::json(DbCall&)>& work,
                           const SettleCommit& settle, const Preamble& preamble,
                           bool& preambleDone);
    nlohmann::json Settle(const SettleCommit& settle, const std::string& failure);
    void CallEnded(const std::string& failure);
    void WriteSucceeded();
    void WriteRefused(const std::string& reason);
    std::string SqliteFilesProblem() const;

    std::string url_;
    kxsql::Engine engine_;
    std::string sqlitePath_;
    std::mutex mutex_;
    std::mutex writers_;               // SQLite: held from BEGIN IMMEDIATE to COMMIT or ROLLBACK
    std::atomic<int> openSessions_{0}; // before idle_: its sessions count down as they close
    std::vector<std::unique_ptr<Slot>> idle_;
    std::atomic<long long> retries_{0}, unconfirmed_{0};
    FaultHook fault_;
    std::mutex writeMutex_;
    std::chrono::steady_clock::time_point refusedAt_; // guarded by writeMutex_
    std::string refusal_;                             // "" once a commit succeeded since
    // Calls and their database failures per second of the last kWriteMemory, and the last failure.
    struct Second {
        long long at = -1;
        int calls = 0, failed = 0;
    };
    std::mutex callsMutex_;
    std::array<Second, static_cast<size_t>(kWriteMemory.count())>
        seconds_; // guarded by callsMutex_, as is lastFailure_
    std::string lastFailure_;
};
