#include "Backup.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kPagesPerStep = 1024;
constexpr auto kBusyPatience = std::chrono::seconds(30);

class Handle {
public:
    Handle(const std::string& path, int flags, const char* what) {
        const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
        if (rc != SQLITE_OK)
            throw BackupError(std::string("não foi possível abrir ") + what + " " + path + ": " +
                              (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc)) + ".");
        sqlite3_busy_timeout(db_, 10000);
    }
    ~Handle() { sqlite3_close_v2(db_); }
    sqlite3* get() const { return db_; }

    void Exec(const char* sql, const char* what) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string message = error ? error : sqlite3_errmsg(db_);
            sqlite3_free(error);
            throw BackupError(std::string(what) + ": " + message + ".");
        }
    }
    std::string Text(const char* sql, const char* what) {
        sqlite3_stmt* stmt = nullptr;
        std::string out;
        if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            const auto* text = sqlite3_column_text(stmt, 0);
            out = text ? reinterpret_cast<const char*>(text) : "";
            sqlite3_finalize(stmt);
            return out;
        }
        const std::string message = sqlite3_errmsg(db_);
        sqlite3_finalize(stmt);
        throw BackupError(std::string(what) + ": " + message + ".");
    }

private:
    sqlite3* db_ = nullptr;
};

const char* const kCopyFiles[] = {"", "-journal", "-wal", "-shm"};

// The partial copy is removed unless it was renamed into place.
struct TempFile {
    std::string path;
    bool keep = false;
    ~TempFile() {
        if (keep) return;
        for (const char* suffix : kCopyFiles)
            ::unlink((path + suffix).c_str());
    }
};

// A copy ended by a signal (Ctrl+C, a job's timeout, a shutdown) leaves no partial file either:
// the handler removes it and the signal then ends the process as it would have.
char gPartial[std::size(kCopyFiles)][PATH_MAX];
volatile sig_atomic_t gArmed = 0;
const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void RemovePartialCopy(int sig) {
    if (gArmed)
        for (const char* path : gPartial)
            ::unlink(path);
    ::raise(sig); // the handler was reset: this one ends the process once the handler returns
}

// A signal the caller ignores (nohup's SIGHUP) stays ignored.
class RemoveOnSignal {
public:
    explicit RemoveOnSignal(const std::string& path) {
        for (size_t i = 0; i < std::size(kCopyFiles); ++i) {
            const std::string file = path + kCopyFiles[i];
            if (file.size() >= sizeof gPartial[i]) return; // the path is too long to be made
            std::memcpy(gPartial[i], file.c_str(), file.size() + 1);
        }
        struct sigaction action {};
        action.sa_handler = RemovePartialCopy;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (const int sig : kStopSignals)
            sigaddset(&action.sa_mask, sig);
        gArmed = 1;
        for (size_t i = 0; i < std::size(kStopSignals); ++i)
            installed_[i] = ::sigaction(kStopSignals[i], nullptr, &previous_[i]) == 0 &&
                            previous_[i].sa_handler != SIG_IGN &&
                            ::sigaction(kStopSignals[i], &action, nullptr) == 0;
    }
    ~RemoveOnSignal() {
        for (size_t i = 0; i < std::size(kStopSignals); ++i)
            if (installed_[i]) ::sigaction(kStopSignals[i], &previous_[i], nullptr);
        gArmed = 0;
    }
    RemoveOnSignal(const RemoveOnSignal&) = delete;
    RemoveOnSignal& operator=(const RemoveOnSignal&) = delete;

private:
    struct sigaction previous_[std::size(kStopSignals)]{};
    bool installed_[std::size(kStopSignals)] = {};
};

void SyncPath(const std::string& path, int flags, const char* what) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int e = errno;
        if (fd >= 0) ::close(fd);
        throw BackupError(std::string("não foi possível gravar ") + what + " " + path + ": " +
                          std::strerror(e) + ".");
    }
    ::close(fd);
}

std::string Directory(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path with its folder resolved (the file itself may not exist yet).
std::string Canonical(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char resolved[PATH_MAX];
    if (!::realpath(Directory(path).c_str(), resolved)) return path;
    const std::string dir = resolved;
    return dir + (dir == "/" ? "" : "/") + name;
}

} // namespace

BackupResult BackupSqlite(const std::string& sourcePath, const std::string& targetPath,
                          const std::function<void(int, int)>& progress) {
    struct stat source {
    }, target{};
    if (::stat(sourcePath.c_str(), &source) != 0 || !S_ISREG(source.st_mode))
        throw BackupError("o banco de dados " + sourcePath + " não existe.");
    if (targetPath.empty() || targetPath.back() == '/')
        throw BackupError("informe o arquivo da cópia em --to, não uma pasta.");
    if (::stat(targetPath.c_str(), &target) == 0) {
        if (S_ISDIR(target.st_mode))
            throw BackupError(targetPath + " é uma pasta; informe o arquivo da cópia.");
        if (target.st_dev == source.st_dev && target.st_ino == source.st_ino)
            throw BackupError("a cópia não pode ser gravada sobre o próprio banco de dados.");
    }
    // The database's own companions, by name: they may not exist while no one has it open.
    const std::string canonicalSource = Canonical(sourcePath);
    const std::string canonicalTarget = Canonical(targetPath);
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        if (canonicalTarget == canonicalSource + suffix)
            throw BackupError("a cópia não pode ser gravada sobre um arquivo do banco de dados.");
    struct stat dir {};
    if (::stat(Directory(targetPath).c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))
        throw BackupError("a pasta de " + targetPath + " não existe.");

    TempFile temp{targetPath + ".partial-" + std::to_string(::getpid())};
    for (const char* suffix : kCopyFiles)
        ::unlink((temp.path + suffix).c_str());
    const RemoveOnSignal removeOnSignal(temp.path);
    // The copy holds every password and session hash besides the data: readable by its owner
    // only, whatever the umask of the shell or job that runs the backup. SQLite gives its journal
    // the same mode.
    const int fd = ::open(temp.path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 || ::fchmod(fd, 0600) != 0) {
        const int e = errno;
        if (fd >= 0) ::close(fd);
        throw BackupError("não foi possível criar a cópia " + temp.path + ": " + std::strerror(e) +
                          ".");
    }
    ::close(fd);

    // Read-write without create: a missing file is never created; read-only when that is all the
    // file allows.
    std::unique_ptr<Handle> src;
    try {
        src = std::make_unique<Handle>(sourcePath, SQLITE_OPEN_READWRITE, "o banco de dados");
    } catch (const BackupError&) {
        src = std::make_unique<Handle>(sourcePath, SQLITE_OPEN_READONLY, "o banco de dados");
    }
    // One read transaction for the whole copy: every chunk reads the same snapshot, so writes of
    // the server neither restart the copy nor tear it.
    src->Exec("BEGIN", "não foi possível iniciar a leitura do banco de dados");
    src->Text("SELECT count(*) FROM sqlite_schema", "o arquivo não é um banco de dados SQLite");

    BackupResult result;
    {
        Handle dst(temp.path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, "a cópia");
        sqlite3_backup* backup = sqlite3_backup_init(dst.get(), "main", src->get(), "main");
        if (!backup)
            throw BackupError(std::string("não foi possível iniciar a cópia: ") +
                              sqlite3_errmsg(dst.get()) + ".");
        auto busySince = std::chrono::steady_clock::now();
        int rc;
        for (;;) {
            rc = sqlite3_backup_step(backup, kPagesPerStep);
            if (rc == SQLITE_OK || rc == SQLITE_DONE) {
                busySince = std::chrono::steady_clock::now();
                const int total = sqlite3_backup_pagecount(backup);
                if (progress) progress(total - sqlite3_backup_remaining(backup), total);
                if (rc == SQLITE_DONE) break;
                continue;
            }
            if ((rc == SQLITE_BUSY || rc == SQLITE_LOCKED) &&
                std::chrono::steady_clock::now() - busySince < kBusyPatience) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            break;
        }
        result.pages = sqlite3_backup_pagecount(backup);
        sqlite3_backup_finish(backup);
        if (rc != SQLITE_DONE)
            throw BackupError(std::string("a cópia foi interrompida: ") + sqlite3_errstr(rc) + ".");
        src->Exec("COMMIT", "falha ao encerrar a leitura do banco de dados");
        src.reset();
        // The copy stands alone: no write-ahead log beside it.
        dst.Exec("PRAGMA journal_mode = DELETE", "falha ao preparar a cópia");
        const std::string check = dst.Text("PRAGMA integrity_check", "falha ao verificar a cópia");
        if (check != "ok") throw BackupError("a cópia não passou na verificação: " + check + ".");
    }
    SyncPath(temp.path, O_RDONLY, "a cópia");
    if (::rename(temp.path.c_str(), targetPath.c_str()) != 0)
        throw BackupError("não foi possível gravar " + targetPath + ": " + std::strerror(errno) +
                          ".");
    temp.keep = true;
    SyncPath(Directory(targetPath), O_RDONLY | O_DIRECTORY, "a pasta");
    struct stat done {};
    if (::stat(targetPath.c_str(), &done) == 0) result.bytes = done.st_size;
    return result;
}
