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
#include <unordered_map>
#include <vector>

namespace soci {
class session;
class statement;
} // namespace soci

// Reads a SELECT to its end, so its statement holds no snapshot while the session waits.
void Drain(soci::statement& st);

// Statements a pooled session keeps prepared between calls, each with the variables it is bound
// to: preparing costs more than running (a parse on SQLite; on PostgreSQL a round trip, and
// another to deallocate). They go with their session. A statement left partway would hold a
// read snapshot on SQLite: users read every SELECT to its end (Drain).
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

// One call's use of a session: the transaction it runs.
class DbCall {
public:
    DbCall(soci::session& sql, kxsql::Engine engine, PreparedCache* prepared = nullptr)
        : sql_(sql), engine_(engine), prepared_(prepared ? prepared : &ownPrepared_) {}
    soci::session& Sql() { return sql_; }
    PreparedCache& Prepared() { return *prepared_; }
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
    PreparedCache ownPrepared_; // for a session without a pool slot
    PreparedCache* prepared_;
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
