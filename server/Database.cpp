#include "Database.h"

#include "RpcError.h"

#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

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
    EndRead();
    if (engine_ == kxsql::Engine::SQLite && owner_)
        writer_ = std::unique_lock<std::mutex>(owner_->writers_);
    // The isolation travels with each transaction: a session setting would stay behind on the
    // server connection of a pooler, for whichever client gets it next.
    try {
        Execute(engine_ == kxsql::Engine::SQLite ? "BEGIN IMMEDIATE"
                                                 : "BEGIN ISOLATION LEVEL READ COMMITTED");
    } catch (...) {
        LeaveWriters();
        throw;
    }
    inTransaction_ = true;
    commitIssued_ = false;
}

void DbCall::Commit() {
    // Let go of the writers' turn however the commit ends.
    const std::unique_lock<std::mutex> turn = std::move(writer_);
    commitIssued_ = true;
    Fault("commit");
    Execute("COMMIT");
    inTransaction_ = false;
    if (owner_) owner_->WriteSucceeded();
    Fault("committed");
}

void DbCall::BeginRead() {
    if (engine_ != kxsql::Engine::SQLite || reading_ || inTransaction_) return;
    Execute("BEGIN");
    reading_ = true;
}

void DbCall::EndRead() {
    if (!reading_) return;
    reading_ = false;
    Execute("COMMIT");
}

// Kept with the session like the calls' statements: preparing them anew each time cost more
// than running them.
void DbCall::Execute(const char* text) {
    struct Kept : PreparedCache::Entry {
        std::unique_ptr<Query> query;
    };
    auto& kept = Prepared().Get<Kept>(text, [&] {
        auto k = std::make_unique<Kept>();
        k->query = std::make_unique<Query>(*this, text);
        return k;
    });
    kept.query->Run();
}

void DbCall::Fault(const char* point) {
    if (owner_ && owner_->fault_) owner_->fault_(point);
}

void DbCall::Rollback() {
    const std::unique_lock<std::mutex> turn = std::move(writer_);
    inTransaction_ = false;
    reading_ = false;
    Execute("ROLLBACK");
}

namespace {
// Whether PostgreSQL's column of type oid can be read into a variable of that kind.
bool Takes(ColumnKind kind, unsigned oid) {
    switch (oid) {
    case 20: // bigint
    case 21: // smallint
    case 23: // integer
        return true;
    case 700:  // real
    case 701:  // double precision
    case 1700: // numeric
        return kind == ColumnKind::Number;
    case 18:   // "char"
    case 19:   // name
    case 25:   // text
    case 705:  // unknown (a literal)
    case 1042: // char(n)
    case 1043: // varchar(n)
    case 1082: // date
    case 1114: // timestamp
    case 1184: // timestamp with time zone
        return kind == ColumnKind::Text;
    default:
        return false;
    }
}
} // namespace

Query::Query(DbCall& db, std::string text)
    : st_(db.Sql()), engine_(db.Engine()), text_(std::move(text)) {}

bool Query::Run() {
    if (!prepared_) {
        st_.alloc();
        st_.prepare(text_, engine_ == kxsql::Engine::PostgreSQL
                               ? soci::details::st_one_time_query
                               : soci::details::st_repeatable_query);
        st_.define_and_bind();
        prepared_ = true;
    }
    const bool got = st_.execute(true);
    if (!columns_.empty()) CheckShape();
    return got;
}

void Query::CheckShape() {
    std::string problem;
    size_t count = 0;
    if (engine_ == kxsql::Engine::PostgreSQL) {
        const PGresult* result =
            static_cast<soci::postgresql_statement_backend*>(st_.get_backend())->result_;
        count = result ? static_cast<size_t>(PQnfields(result)) : 0;
        for (size_t i = 0; i < count && i < columns_.size() && problem.empty(); ++i)
            if (!Takes(columns_[i], PQftype(result, static_cast<int>(i))))
                problem = "a coluna " + std::to_string(i + 1) + " (" +
                          PQfname(result, static_cast<int>(i)) + ") é do tipo " +
                          std::to_string(PQftype(result, static_cast<int>(i))) +
                          ", que não cabe na variável que a lê";
    } else {
        count = static_cast<size_t>(sqlite_api::sqlite3_column_count(
            static_cast<soci::sqlite3_statement_backend*>(st_.get_backend())->stmt_));
    }
    if (count != columns_.size())
        problem = "a resposta tem " + std::to_string(count) + " colunas e o comando lê " +
                  std::to_string(columns_.size());
    if (!problem.empty())
        throw std::runtime_error("resposta do banco de dados fora do formato do comando: " +
                                 problem + " [" + text_.substr(0, 120) + "]");
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

namespace {
struct ThreadPreamble {
    const Database* owner = nullptr;
    Database::Preamble preamble;
};
thread_local ThreadPreamble threadPreamble;
} // namespace

void Database::SetPreamble(Preamble preamble) {
    threadPreamble = {this, std::move(preamble)};
}

Database::Preamble Database::TakePreamble() {
    if (threadPreamble.owner != this) return {};
    threadPreamble.owner = nullptr;
    return std::move(threadPreamble.preamble);
}

nlohmann::json Database::Run(const std::function<nlohmann::json(DbCall&)>& work,
                             const SettleCommit& settle) {
    const Preamble preamble = TakePreamble();
    bool preambleDone = false;
    try {
        nlohmann::json result = RunCall(work, settle, preamble, preambleDone);
        CallEnded("");
        return result;
    } catch (const RpcError& e) {
        // A preamble that failed stays for the next Run: work that goes on after this failure
        // does not get past it either.
        if (preamble && !preambleDone) SetPreamble(preamble);
        const bool database = e.Code() == kRpcDatabaseFailure || e.Code() == kRpcOutcomeUnknown;
        CallEnded(!database ? "" : e.Detail().empty() ? e.what() : e.Detail());
        throw;
    }
}

void Database::CallEnded(const std::string& failure) {
    const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    std::lock_guard lock(callsMutex_);
    Second& second = seconds_[static_cast<size_t>(now) % seconds_.size()];
    if (second.at != now) second = {now, 0, 0};
    ++second.calls;
    if (failure.empty()) return;
    ++second.failed;
    lastFailure_ = failure;
}

std::string Database::CallProblem() {
    const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    int calls = 0, failed = 0;
    std::lock_guard lock(callsMutex_);
    for (const Second& second : seconds_)
        if (second.at > now - static_cast<long long>(seconds_.size())) {
            calls += second.calls;
            failed += second.failed;
        }
    if (failed < kFailedCalls || failed * kFailedShare < calls) return "";
    return std::to_string(failed) + " de " + std::to_string(calls) +
           " chamadas falharam no banco de dados nos últimos " + std::to_string(seconds_.size()) +
           " s (a última: " + lastFailure_ + ")";
}

void Database::ForgetCallFailures() {
    std::lock_guard lock(callsMutex_);
    seconds_.fill({});
}

nlohmann::json Database::RunCall(const std::function<nlohmann::json(DbCall&)>& work,
                                 const SettleCommit& settle, const Preamble& preamble,
                                 bool& preambleDone) {
    for (int attempt = 0;; ++attempt) {
        bool fresh = true;
        std::unique_ptr<Slot> slot = attempt == 0 ? Acquire(fresh) : Open();
        DbCall call(slot->session, engine_, &slot->prepared, this);
        try {
            if (preamble) {
                call.BeginRead();
                preamble(call);
                preambleDone = true;
            }
            nlohmann::json result = work(call);
            if (call.InTransaction()) call.Rollback(); // work that forgot to commit wrote nothing
            call.EndRead();
            Release(std::move(slot));
            return result;
        } catch (const RpcError&) {
            bool sound = true;
            if (call.InTransaction() || call.Reading()) {
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
            call.LeaveWriters();
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
    // Not counted among the calls: the probe must not hide their failures.
    bool unused = false;
    RunCall(
        [&](DbCall& call) -> nlohmann::json {
            // The schema must be there too, or every call would fail.
            int one = 0;
            Query(call, "SELECT 1 FROM PARAMFORNE WHERE 1 = 0 UNION ALL SELECT 1").Into(one).Run();
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
        },
        {}, {}, unused);
    if (!problem.empty()) return problem;
    std::lock_guard lock(writeMutex_);
    if (!refusal_.empty() && std::chrono::steady_clock::now() - refusedAt_ < kWriteMemory)
        return refusal_;
    return "";
}
