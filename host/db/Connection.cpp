#include "db/Connection.h"

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <mutex>
#include <soci/soci.h>

#include "sql/Session.h"
#include "vcl/FormReader.h"

namespace {
template <class L, class K> void Erase(L& list, const void* key, K keyOf) {
    list.erase(
        std::remove_if(list.begin(), list.end(), [&](const auto& e) { return keyOf(e) == key; }),
        list.end());
}
template <class L> void Erase(L& list, const void* key) {
    Erase(list, key, [](const auto& e) { return e.first; });
}
} // namespace

namespace {
std::mutex logMutex;
std::function<void(const String&)> logSink;

void LogDatabaseFailure(const String& context, const String& words) {
    String where = context;
    while (!where.empty() && (where.back() == ' ' || where.back() == ':'))
        where.pop_back();
    const String line = "banco de dados: " + where + ": " + words;
    std::lock_guard lock(logMutex);
    if (logSink)
        logSink(line);
    else
        std::cerr << program_invocation_short_name << ": " << line << std::endl;
}

// What the clerk is told; what the library said is in the log.
const char* ClerkText(kxsql::Failure failure) {
    switch (failure) {
    case kxsql::Failure::Connection:
        return "o banco de dados não está acessível. Tente de novo em instantes; se persistir, "
               "avise o suporte.";
    case kxsql::Failure::Busy:
        return "o banco de dados está ocupado. Tente de novo em instantes.";
    case kxsql::Failure::WriteRefused:
        return "o banco de dados não aceita gravações. Avise o suporte.";
    case kxsql::Failure::Other:
        break;
    }
    return "o banco de dados recusou o comando. Avise o suporte (os detalhes estão no registro "
           "do aplicativo).";
}

// Whether the session's connection is gone (a PostgreSQL round trip when the error does not say).
bool Broken(soci::session& session, const std::exception& e) {
    if (kxsql::ClassifyFailure(e) == kxsql::Failure::Connection) return true;
    try {
        return !session.is_connected();
    } catch (const std::exception&) {
        return true;
    }
}
} // namespace

void SetDatabaseLog(std::function<void(const String& line)> sink) {
    std::lock_guard lock(logMutex);
    logSink = std::move(sink);
}

void RethrowAsDatabaseError(const String& context) {
    try {
        throw;
    } catch (const EDatabaseError&) {
        throw;
    } catch (const Exception&) {
        throw;
    } catch (const soci::soci_error& e) {
        LogDatabaseFailure(context, e.get_error_message());
        throw EDatabaseError(context + ClerkText(kxsql::ClassifyFailure(e)));
    } catch (const std::exception& e) {
        LogDatabaseFailure(context, e.what());
        throw EDatabaseError(context + ClerkText(kxsql::ClassifyFailure(e)));
    }
}

// ---------------------------------------------------------------------------------------------

TSharedComponent::~TSharedComponent() {
    NotifyFree();
}

void TSharedComponent::NotifyFree() {
    auto list = std::move(notify_);
    notify_.clear();
    for (auto& [key, fn] : list)
        fn();
}

void TSharedComponent::AddFreeNotification(const void* key, std::function<void()> onFree) {
    Erase(notify_, key);
    notify_.emplace_back(key, std::move(onFree));
}

void TSharedComponent::RemoveFreeNotification(const void* key) {
    Erase(notify_, key);
}

// ---------------------------------------------------------------------------------------------

TADOConnection::TADOConnection(TComponent* owner) : TSharedComponent(owner) {}

TADOConnection::~TADOConnection() {
    BeginDestroy();
    NotifyFree(); // the queries forget this connection before it closes under them
    Close();
}

void TADOConnection::Open(const String& url) {
    Close();
    auto session = std::make_unique<soci::session>();
    try {
        kxsql::OpenSession(*session, url);
    } catch (...) {
        RethrowAsDatabaseError("Não foi possível conectar ao banco de dados: ");
    }
    session_ = std::move(session);
    url_ = url;
    sqlite_ = kxsql::EngineOfUrl(url) == kxsql::Engine::SQLite;
}

void TADOConnection::Close() {
    // Closing a query runs its handlers, which may close others: take them one at a time.
    while (!openQueries_.empty()) {
        std::function<void()> close = std::move(openQueries_.back().close);
        openQueries_.pop_back();
        close();
    }
    EndCursorTransaction(false);
    cursorSession_.reset();
    session_.reset();
    sqlite_ = false;
}

soci::session& TADOConnection::Session() {
    if (!session_)
        throw EDatabaseError("A conexão " + Name() + " com o banco de dados não está aberta.");
    return *session_;
}

void TADOConnection::ExecSQL(const String& sql) {
    soci::session& s = Session();
    ReleaseOpenQueries(nullptr);
    try {
        s << sql;
    } catch (const std::exception& e) {
        // Not run again: it may have been carried out. The next statement finds a session.
        RenewIfBroken(e);
        RethrowAsDatabaseError("Erro no banco de dados: ");
    }
}

bool TADOConnection::RenewIfBroken(const std::exception& e) {
    if (!session_ || sqlite_ || !Broken(*session_, e)) return false;
    auto session = std::make_unique<soci::session>();
    try {
        kxsql::OpenSession(*session, url_, false);
    } catch (const std::exception&) {
        return false;
    }
    session_ = std::move(session);
    return true;
}

void TADOConnection::AddOpenQuery(const void* key, std::function<void()> close,
                                  std::function<void()> release) {
    RemoveOpenQuery(key);
    openQueries_.push_back({key, std::move(close), std::move(release)});
}

void TADOConnection::RemoveOpenQuery(const void* key) {
    Erase(openQueries_, key, [](const OpenQuery& q) { return q.key; });
}

void TADOConnection::ReleaseOpenQueries(const void* except) {
    if (!sqlite_) return;
    // Releasing reads rows only; it neither opens nor closes queries, so the list stays put.
    for (const OpenQuery& q : openQueries_)
        if (q.key != except && q.release) q.release();
}

TADOConnection::TCursor TADOConnection::DeclareCursor(
    const std::function<void(soci::session&, const String& name)>& declare) {
    Session(); // connected
    TCursor cursor{"kx_cursor" + std::to_string(++nextCursor_), 0};
    bool alone = !inCursorTransaction_;
    // A session kept idle may have been dropped by the server meanwhile (a restart): one that
    // cannot begin is replaced once. Its transaction and open cursors are gone with it; their
    // queries declare them again when they read on.
    for (int attempt = 0;; ++attempt) {
        const bool fresh = !cursorSession_;
        try {
            if (fresh) {
                auto session = std::make_unique<soci::session>();
                kxsql::OpenSession(*session, url_, false);
                cursorSession_ = std::move(session);
            }
        } catch (...) {
            RethrowAsDatabaseError("Não foi possível conectar ao banco de dados: ");
        }
        try {
            if (alone) {
                *cursorSession_ << "BEGIN READ ONLY";
                inCursorTransaction_ = true;
            } else {
                // A failing declaration must not take the open cursors down with the transaction.
                *cursorSession_ << "SAVEPOINT kx_declare";
            }
            break;
        } catch (...) {
            EndCursorTransaction(false);
            cursorSession_.reset();
            if (fresh || attempt > 0) RethrowAsDatabaseError("Erro no banco de dados: ");
            alone = true;
        }
    }
    soci::session& s = *cursorSession_;
    try {
        declare(s, cursor.name);
    } catch (...) {
        if (alone) {
            EndCursorTransaction(false);
        } else {
            try {
                s << "ROLLBACK TO SAVEPOINT kx_declare";
                s << "RELEASE SAVEPOINT kx_declare";
            } catch (...) {
                EndCursorTransaction(false);
            }
        }
        throw;
    }
    if (!alone) {
        try {
            s << "RELEASE SAVEPOINT kx_declare";
        } catch (...) {
            EndCursorTransaction(false);
            RethrowAsDatabaseError("Erro no banco de dados: ");
        }
    }
    cursor.generation = generation_;
    cursors_.push_back(cursor.name);
    return cursor;
}

bool TADOConnection::Alive(const TCursor& cursor) const {
    return cursorSession_ && inCursorTransaction_ && cursor.generation == generation_ &&
           std::find(cursors_.begin(), cursors_.end(), cursor.name) != cursors_.end();
}

soci::session& TADOConnection::CursorSession() {
    if (!cursorSession_ || !inCursorTransaction_)
        throw EDatabaseError("A conexão " + Name() + " não tem cursor aberto.");
    return *cursorSession_;
}

void TADOConnection::CloseCursor(const TCursor& cursor) {
    if (!Alive(cursor)) return;
    std::erase(cursors_, cursor.name);
    if (cursors_.empty()) {
        EndCursorTransaction(true); // the commit closes the cursor
        return;
    }
    try {
        *cursorSession_ << "CLOSE " + cursor.name;
    } catch (...) {
        EndCursorTransaction(false);
    }
}

void TADOConnection::CursorFailed() {
    EndCursorTransaction(false);
}

// Never throws: a session that cannot end its transaction is dropped (closing it ends it), and
// the next cursor opens a new one.
void TADOConnection::EndCursorTransaction(bool commit) {
    cursors_.clear();
    if (!inCursorTransaction_) return;
    inCursorTransaction_ = false;
    ++generation_;
    if (!cursorSession_) return;
    try {
        *cursorSession_ << (commit ? "COMMIT" : "ROLLBACK");
    } catch (...) {
        cursorSession_.reset();
    }
}

bool TADOConnection::ReadProperty(const DfmProperty& p, TFormReader& r) {
    if (p.name == "LoginPrompt" || p.name == "KeepConnection") {
        r.Bool(p);
        return true;
    }
    return TSharedComponent::ReadProperty(p, r);
}

// ---------------------------------------------------------------------------------------------

TIBDatabase::~TIBDatabase() {
    SetConnection(nullptr);
}

void TIBDatabase::SetConnection(TADOConnection* c) {
    if (c == connection_) return;
    if (connection_) connection_->RemoveFreeNotification(this);
    connection_ = c;
    if (c) c->AddFreeNotification(this, [this] { connection_ = nullptr; });
}

TIBTransaction::~TIBTransaction() {
    SetConnection(nullptr);
}

void TIBTransaction::SetConnection(TADOConnection* c) {
    if (c == connection_) return;
    if (connection_) connection_->RemoveFreeNotification(this);
    connection_ = c;
    if (c) c->AddFreeNotification(this, [this] { connection_ = nullptr; });
}
