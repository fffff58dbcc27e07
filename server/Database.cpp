#include "Database.h"

#include "RpcError.h"

#include <soci/soci.h>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {
// What the database library says stays in the server's log; the client gets these.
const char* kDatabaseUnavailable = "Banco de dados indisponível. Tente novamente em instantes.";
const char* kDatabaseFailed = "Falha no banco de dados. Tente novamente em instantes.";
const char* kOutcomeUnknown =
    "O banco de dados não confirmou a gravação e não respondeu a tempo de saber se ela foi "
    "concluída. Repita a gravação com a mesma chave ou recarregue o fornecedor e confira.";

// Below this much free space in the SQLite file's folder a save may fail half-way through its
// WAL frames: the database counts as full.
constexpr unsigned long long kMinFreeBytes = 1u << 20;

// Whether a session that just failed can still talk to its database (PostgreSQL: a round trip).
bool Connected(soci::session& session) {
    try {
        return session.is_connected();
    } catch (const std::exception&) {
        return false;
    }
}
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
    Fault("commit");
    sql_ << "COMMIT";
    inTransaction_ = false;
    if (owner_) owner_->WriteSucceeded();
    Fault("committed");
}

void DbCall::Fault(const char* point) {
    if (owner_ && owner_->fault_) owner_->fault_(point);
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

void Database::DropIdle() {
    std::vector<std::unique_ptr<Slot>> dropped;
    std::lock_guard lock(mutex_);
    dropped.swap(idle_);
}

void Database::Probe() {
    bool fresh = false;
    Release(Acquire(fresh));
}

nlohmann::json Database::Run(const std::function<nlohmann::json(DbCall&)>& work,
                             const SettleCommit& settle) {
    for (int attempt = 0;; ++attempt) {
        bool fresh = true;
        std::unique_ptr<Slot> slot = attempt == 0 ? Acquire(fresh) : Open();
        DbCall call(slot->session, engine_, &slot->prepared, this);
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
            const bool wrote = call.InTransaction() || call.CommitIssued();
            const kxsql::Failure kind = kxsql::ClassifyFailure(e);
            const bool broken = kind == kxsql::Failure::Connection || !Connected(slot->session);
            if (wrote && !broken && kind == kxsql::Failure::WriteRefused) WriteRefused(e.what());
            // The session is dropped (closing it ends any open transaction).
            slot.reset();
            if (broken) DropIdle();
            if (call.CommitIssued()) {
                if (settle) return Settle(settle, e.what());
                if (broken) throw RpcError(kRpcOutcomeUnknown, kOutcomeUnknown, e.what());
                throw RpcError(kRpcDatabaseFailure, kDatabaseFailed, e.what());
            }
            if (!fresh && attempt == 0) {
                retries_.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            throw RpcError(kRpcDatabaseFailure, kDatabaseFailed, e.what());
        }
    }
}

nlohmann::json Database::Settle(const SettleCommit& settle, const std::string& failure) {
    unconfirmed_.fetch_add(1, std::memory_order_relaxed);
    const auto until = std::chrono::steady_clock::now() + kSettleWindow;
    std::string last = failure;
    for (auto pause = std::chrono::milliseconds(100);; pause *= 2) {
        std::optional<nlohmann::json> found;
        bool asked = false;
        try {
            std::unique_ptr<Slot> slot = Open();
            DbCall call(slot->session, engine_, &slot->prepared, this);
            found = settle(call, failure);
            if (call.InTransaction()) call.Rollback();
            asked = true;
            Release(std::move(slot));
        } catch (const RpcError& e) {
            last = e.Detail().empty() ? e.what() : e.Detail();
        } catch (const std::exception& e) {
            last = e.what();
        }
        if (found) return *found;
        if (asked)
            throw RpcError(kRpcDatabaseFailure, kDatabaseFailed,
                           failure + " (a gravação não consta no banco de dados)");
        if (std::chrono::steady_clock::now() + pause >= until)
            throw RpcError(kRpcOutcomeUnknown, kOutcomeUnknown,
                           failure + " (resultado não confirmado: " + last + ")");
        std::this_thread::sleep_for(pause);
    }
}

void Database::WriteSucceeded() {
    std::lock_guard lock(writeMutex_);
    refusal_.clear();
}

void Database::WriteRefused(const std::string& reason) {
    std::lock_guard lock(writeMutex_);
    refusal_ = reason;
    refusedAt_ = std::chrono::steady_clock::now();
}

// The SQLite file and its companions must be writable by this process, and their folder must
// have room: SQLite learns either only when a commit writes, after the save was accepted.
std::string Database::SqliteFilesProblem() const {
    const auto slash = sqlitePath_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : sqlitePath_.substr(0, slash + 1);
    for (const std::string& file : {sqlitePath_, sqlitePath_ + "-wal", sqlitePath_ + "-shm"}) {
        if (::access(file.c_str(), F_OK) != 0) continue; // the companions come and go
        if (::access(file.c_str(), W_OK) != 0)
            return "o arquivo " + file + " não pode ser gravado por este processo (" +
                   std::strerror(errno) + ")";
    }
    if (::access(folder.c_str(), W_OK) != 0)
        return "a pasta " + folder + " não pode ser gravada por este processo (" +
               std::strerror(errno) + ")";
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) == 0) {
        const unsigned long long room = static_cast<unsigned long long>(fs.f_bavail) *
                                        static_cast<unsigned long long>(fs.f_frsize);
        if (room < kMinFreeBytes)
            return "disco cheio: restam " + std::to_string(room / 1024) + " KiB livres em " +
                   folder;
    }
    return "";
}

std::string Database::WriteProblem() {
    // Checked first: a SQLite file on a read-only mount may not even open.
    std::string problem = engine_ == kxsql::Engine::SQLite ? SqliteFilesProblem() : "";
    if (!problem.empty()) return problem;
    Run([&](DbCall& call) -> nlohmann::json {
        // The schema must be there too, or every call would fail.
        int one = 0;
        call.Sql() << "SELECT 1 FROM PARAMFORNE WHERE 1 = 0 UNION ALL SELECT 1", soci::into(one);
        try {
            call.Begin();
            call.Fault("write-probe");
            // A write that changes nothing still needs the database to take writes: a read-only
            // database, transaction or file refuses it.
            call.Sql() << "UPDATE PARAMFORNE SET CDFORNECED = CDFORNECED WHERE 1 = 0";
        } catch (const std::exception& e) {
            if (kxsql::ClassifyFailure(e) == kxsql::Failure::Connection) throw;
            problem = e.what();
        }
        if (call.InTransaction()) call.Rollback();
        return nullptr;
    });
    if (!problem.empty()) return problem;
    std::lock_guard lock(writeMutex_);
    if (!refusal_.empty() && std::chrono::steady_clock::now() - refusedAt_ < kWriteMemory)
        return refusal_;
    return "";
}

void Drain(soci::statement& st) {
    while (st.fetch()) {
    }
}
