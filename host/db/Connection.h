#pragma once
// The connection to the host database (it owns the SOCI session) and the two components that
// older definitions name for the same connection: a database and a transaction.
//
// Form-definition properties: TADOConnection LoginPrompt, KeepConnection (accepted, no effect);
// TIBDatabase and TIBTransaction none besides Tag.
#include <functional>
#include <memory>
#include <vector>

#include "vcl/Classes.h"

namespace soci {
class session;
}

// A component that others refer to across owners (a query on a screen naming the shared data
// module's connection): it tells them when it goes away.
class TSharedComponent : public TComponent {
public:
    using TComponent::TComponent;
    ~TSharedComponent() override;
    void AddFreeNotification(const void* key, std::function<void()> onFree);
    void RemoveFreeNotification(const void* key);

protected:
    void NotifyFree();

private:
    std::vector<std::pair<const void*, std::function<void()>>> notify_;
};

class TADOConnection : public TSharedComponent {
public:
    explicit TADOConnection(TComponent* owner);
    ~TADOConnection() override;
    String ClassName() const override { return "TADOConnection"; }

    // "sqlite:PATH" or "postgresql://USER@HOST:PORT/DB"; EDatabaseError when it cannot connect.
    void Open(const String& url);
    // Closes the open queries first.
    void Close();
    bool Connected() const { return session_ != nullptr; }
    const String& Url() const { return url_; }
    // EDatabaseError when not connected.
    soci::session& Session();
    // Runs one statement without results; EDatabaseError with the engine's message. On SQLite
    // the open queries release their statements first (see ReleaseOpenQueries).
    void ExecSQL(const String& sql);

    // Open queries register here, so closing the connection closes them first. release, when
    // given, reads the query's remaining rows into its own buffer and drops its statement.
    void AddOpenQuery(const void* key, std::function<void()> close,
                      std::function<void()> release = {});
    void RemoveOpenQuery(const void* key);
    // On SQLite a statement stepped partway keeps the connection in a read transaction on the
    // snapshot it started with: rows other sessions commit stay invisible, later writes fail as
    // busy and the write-ahead log cannot be checkpointed. Before a statement runs, every other
    // open query (all but except) lets its statement go. No effect on PostgreSQL, whose results
    // arrive whole. Errors of a query's remaining rows propagate as EDatabaseError.
    void ReleaseOpenQueries(const void* except);
    bool IsSQLite() const { return sqlite_; }

    // PostgreSQL: queries read their rows a batch at a time from server-side cursors on a session
    // of the connection's own, in a read-only transaction that lasts while a cursor is open (a
    // query closes its cursor once it has its batch, and declares it again for the next). The
    // connection's own session stays free for lookups and writes, and libpq never holds a whole
    // result. DeclareCursor names a cursor and runs `declare` with that name (the query's DECLARE
    // with its values bound); a declaration that fails leaves the other cursors as they were.
    // CloseCursor ends one (the transaction with the last). A cursor whose transaction ended
    // under it (CursorFailed after another cursor's failure, a session the server dropped) is no
    // longer Alive; its query declares it again.
    struct TCursor {
        String name;
        unsigned long generation = 0;
    };
    TCursor DeclareCursor(const std::function<void(soci::session&, const String& name)>& declare);
    void CloseCursor(const TCursor& cursor);
    bool Alive(const TCursor& cursor) const;
    soci::session& CursorSession(); // EDatabaseError when no cursor transaction is open
    // A statement on the cursor session failed: its transaction is rolled back (every cursor lost).
    void CursorFailed();
    // After CursorFailed: whether the cursor session went with it (its connection broke), so a
    // new cursor would open a fresh one.
    bool CursorSessionLost() const { return !cursorSession_; }
    // After a failure of `e` on the connection's own session: when that session's connection
    // broke (PostgreSQL), it is replaced by a fresh one and true returned, so the next statement
    // works once the database is back. A failure to reconnect leaves it as it was.
    bool RenewIfBroken(const std::exception& e);

    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

private:
    std::unique_ptr<soci::session> session_;
    String url_;
    struct OpenQuery {
        const void* key;
        std::function<void()> close, release;
    };
    std::vector<OpenQuery> openQueries_;
    bool sqlite_ = false;
    // The cursor session, its open cursors and the count of its ended transactions.
    void EndCursorTransaction(bool commit);
    std::unique_ptr<soci::session> cursorSession_;
    std::vector<String> cursors_;
    unsigned long generation_ = 1;
    unsigned long nextCursor_ = 0;
    bool inCursorTransaction_ = false;
};

// Names a connection: queries that name a database use its connection.
class TIBDatabase : public TSharedComponent {
public:
    using TSharedComponent::TSharedComponent;
    ~TIBDatabase() override;
    String ClassName() const override { return "TIBDatabase"; }
    TADOConnection* Connection() const { return connection_; }
    void SetConnection(TADOConnection* c);

private:
    TADOConnection* connection_ = nullptr;
};

// Names a connection; statements run in its implicit transaction.
class TIBTransaction : public TSharedComponent {
public:
    using TSharedComponent::TSharedComponent;
    ~TIBTransaction() override;
    String ClassName() const override { return "TIBTransaction"; }
    TADOConnection* Connection() const { return connection_; }
    void SetConnection(TADOConnection* c);

private:
    TADOConnection* connection_ = nullptr;
};

// Turns any error of the database library into EDatabaseError: `context` followed by a
// Portuguese text for the clerk (unreachable, busy, refusing writes, or refusing the command);
// the library's own words go to the database log.
[[noreturn]] void RethrowAsDatabaseError(const String& context);

// Where the database library's own words go: a line per failure, to standard error (with the
// program's name) unless a sink is set; an empty sink restores that.
void SetDatabaseLog(std::function<void(const String& line)> sink);
