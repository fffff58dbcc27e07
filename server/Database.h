// Sessions to the one database of the server, lent to calls running on the worker threads.
// A session that failed is dropped, so the next call opens a fresh one: the server keeps
// serving once the database is back.
#pragma once

#include "Schema.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace soci {
class session;
}

// One call's use of a session: the transaction it runs.
class DbCall {
public:
    DbCall(soci::session& sql, kxsql::Engine engine) : sql_(sql), engine_(engine) {}
    soci::session& Sql() { return sql_; }
    kxsql::Engine Engine() const { return engine_; }
    // SQLite takes the write lock at once, so that two writers never deadlock on an upgrade.
    void Begin();
    void Commit();
    void Rollback();
    bool InTransaction() const { return inTransaction_; }
    bool CommitIssued() const { return commitIssued_; }

private:
    soci::session& sql_;
    kxsql::Engine engine_;
    bool inTransaction_ = false;
    bool commitIssued_ = false;
};

class Database {
public:
    explicit Database(std::string url);
    ~Database();

    kxsql::Engine Engine() const { return engine_; }
    const std::string& Url() const { return url_; }

    // Runs work with a session. A refusal (RpcError) rolls back and passes through; any other
    // failure rolls back, drops the session and becomes RpcError(kRpcDatabaseFailure). A pooled
    // session that fails before its commit was sent is replaced and the work run once more: that
    // is how a connection the database closed while idle is noticed.
    nlohmann::json Run(const std::function<nlohmann::json(DbCall&)>& work);

    // Opens a session now, to report an unreachable database at start; throws on failure.
    void Probe();

    int OpenSessions() const { return openSessions_.load(std::memory_order_relaxed); }

private:
    struct Slot;
    std::unique_ptr<Slot> Acquire(bool& fresh);
    std::unique_ptr<Slot> Open();
    bool StillValid(const Slot& slot) const;
    void Release(std::unique_ptr<Slot> slot);

    std::string url_;
    kxsql::Engine engine_;
    std::string sqlitePath_;
    std::mutex mutex_;
    std::atomic<int> openSessions_{0}; // before idle_: its sessions count down as they close
    std::vector<std::unique_ptr<Slot>> idle_;
};
