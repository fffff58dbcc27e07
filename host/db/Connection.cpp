#include "db/Connection.h"

#include <algorithm>
#include <soci/soci.h>

#include "sql/Schema.h"
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

void RethrowAsDatabaseError(const String& context) {
    try {
        throw;
    } catch (const EDatabaseError&) {
        throw;
    } catch (const soci::soci_error& e) {
        throw EDatabaseError(context + e.get_error_message());
    } catch (const Exception&) {
        throw;
    } catch (const std::exception& e) {
        throw EDatabaseError(context + e.what());
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
    } catch (...) {
        RethrowAsDatabaseError("Erro no banco de dados: ");
    }
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
    const bool alone = !inCursorTransaction_;
    // A session kept idle may have been dropped by the server meanwhile: one that cannot begin
    // is replaced once.
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
            if (alone) cursorSession_.reset();
            if (!alone || fresh || attempt > 0) RethrowAsDatabaseError("Erro no banco de dados: ");
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
    return cursorSession_ && inCursorTransaction_ && cursor.generation == generation_;
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
