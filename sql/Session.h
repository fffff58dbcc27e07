// A database session opened from its URL, and what a failure of the database library means:
// shared by the client's data layer and the application server.
#pragma once

#include <exception>
#include <string>

namespace soci {
class session;
}

namespace kxsql {

enum class Engine { SQLite, PostgreSQL };

// "sqlite:PATH" or "postgresql://USER@HOST:PORT/DB" (also "postgres://").
// Throws std::invalid_argument with a Portuguese message for anything else.
Engine EngineOfUrl(const std::string& url);

// The connect string soci::session needs for the URL (without the backend factory).
// For SQLite the database file is created when it is missing.
std::string SociConnectString(const std::string& url);

// Opens the session for the URL. SQLite: WAL journal, synchronous=FULL, foreign keys on and a
// busy timeout. PostgreSQL: read committed, UTF-8, ISO dates.
// With createIfMissing false a missing SQLite file is an error instead of a new empty database;
// a new one is made readable by its owner only (0600), whatever the umask.
void OpenSession(soci::session& session, const std::string& url, bool createIfMissing = true);

// What a failure of the database library means to the code that meets it.
enum class Failure {
    Connection,   // the database cannot be reached, or the connection to it broke
    Busy,         // locked or overloaded: the same statement may succeed shortly
    WriteRefused, // reachable, but it does not accept writes (read-only, disk full, I/O error)
    Other,        // the statement itself failed (missing table, constraint, ...)
};
Failure ClassifyFailure(const std::exception& e);

} // namespace kxsql
