#include "Database.h"

#include "RpcError.h"

#include <soci/soci.h>

#include <sys/stat.h>

namespace {
// What the database library says stays in the server's log; the client gets these.
const char* kDatabaseUnavailable = "Banco de dados indisponível. Tente novamente em instantes.";
const char* kDatabaseFailed = "Falha no banco de dados. Tente novamente em instantes.";
} // namespace

struct Database::Slot {
    soci::session session;
    PreparedCache prepared; // destroyed before the session its statements belong to
    // The SQLite file the session opened: a file moved away or replaced is a database that
    // went away, even though the open handle would still read the old one.
    dev_t device = 0;
    ino_t inode = 0;
    std::atomic<int>* open = nullptr; // the count of open sessions, once this one is open
    ~Slot() {
        if (open) open->fetch_sub(1, std::memory_order_relaxed);
    }
};

void DbCall::Begin() {
    sql_ << (engine_ == kxsql::Engine::SQLite ? "BEGIN IMMEDIATE" : "BEGIN");
    inTransaction_ = true;
    commitIssued_ = false;
}

void DbCall::Commit() {
    commitIssued_ = true;
    sql_ << "COMMIT";
    inTransaction_ = false;
}

void DbCall::Rollback() {
    inTransaction_ = false;
    sql_ << "ROLLBACK";
}

Database::Database(std::string url) : url_(std::move(url)), engine_(kxsql::EngineOfUrl(url_)) {
    if (engine_ == kxsql::Engine::SQLite) sqlitePath_ = url_.substr(std::string("sqlite:").size());
}

Database::~Database() = default;

std::unique_ptr<Database::Slot> Database::Open() {
    auto slot = std::make_unique<Slot>();
    try {
        kxsql::OpenSession(slot->session, url_, false);
    } catch (const std::exception& e) {
        throw RpcError(kRpcDatabaseFailure, kDatabaseUnavailable, e.what());
    }
    slot->open = &openSessions_;
    openSessions_.fetch_add(1, std::memory_order_relaxed);
    if (engine_ == kxsql::Engine::SQLite) {
        struct stat st;
        if (::stat(sqlitePath_.c_str(), &st) == 0) {
            slot->device = st.st_dev;
            slot->inode = st.st_ino;
        }
    }
    return slot;
}

bool Database::StillValid(const Slot& slot) const {
    if (engine_ != kxsql::Engine::SQLite) return true;
    struct stat st;
    return ::stat(sqlitePath_.c_str(), &st) == 0 && st.st_dev == slot.device &&
           st.st_ino == slot.inode;
}

std::unique_ptr<Database::Slot> Database::Acquire(bool& fresh) {
    std::unique_ptr<Slot> slot;
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            slot = std::move(idle_.back());
            idle_.pop_back();
        }
    }
    if (slot && !StillValid(*slot)) slot.reset();
    fresh = !slot;
    return slot ? std::move(slot) : Open();
}

void Database::Release(std::unique_ptr<Slot> slot) {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(slot));
}

void Database::Probe() {
    bool fresh = false;
    Release(Acquire(fresh));
}

nlohmann::json Database::Run(const std::function<nlohmann::json(DbCall&)>& work) {
    for (int attempt = 0;; ++attempt) {
        bool fresh = false;
        std::unique_ptr<Slot> slot = Acquire(fresh);
        DbCall call(slot->session, engine_, &slot->prepared);
        try {
            nlohmann::json result = work(call);
            if (call.InTransaction()) call.Rollback(); // work that forgot to commit wrote nothing
            Release(std::move(slot));
            return result;
        } catch (const RpcError&) {
            bool sound = true;
            if (call.InTransaction()) {
                try {
                    call.Rollback();
                } catch (const std::exception&) {
                    sound = false;
                }
            }
            if (sound) Release(std::move(slot));
            throw;
        } catch (const std::exception& e) {
            // The session is dropped (closing it ends any open transaction).
            slot.reset();
            if (!fresh && attempt == 0 && !call.CommitIssued()) continue;
            throw RpcError(kRpcDatabaseFailure, kDatabaseFailed, e.what());
        }
    }
}

void Drain(soci::statement& st) {
    while (st.fetch()) {
    }
}
