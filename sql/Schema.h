// The one SQL schema of the project (host tables and supplier parameters), per engine.
#pragma once

#include <exception>
#include <string>
#include <vector>

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

// CREATE TABLE/INDEX IF NOT EXISTS statements: running them again changes nothing.
const std::vector<std::string>& SchemaStatements(Engine);

// Demo suppliers, operator groups, products and parameters; a row already present is kept.
const std::vector<std::string>& DemoStatements(Engine);

// Opens the session for the URL. SQLite: WAL journal, synchronous=FULL, foreign keys on and a
// busy timeout. PostgreSQL: read committed, UTF-8, ISO dates.
// With createIfMissing false a missing SQLite file is an error instead of a new empty database.
void OpenSession(soci::session& session, const std::string& url, bool createIfMissing = true);

// Creates the tables (and with demo the demo rows) in one transaction: what "appserver init"
// does. Throws what the database said.
void InitDatabase(const std::string& url, bool demo);

// What a failure of the database library means to the code that meets it.
enum class Failure {
    Connection,   // the database cannot be reached, or the connection to it broke
    Busy,         // locked or overloaded: the same statement may succeed shortly
    WriteRefused, // reachable, but it does not accept writes (read-only, disk full, I/O error)
    Other,        // the statement itself failed (missing table, constraint, ...)
};
Failure ClassifyFailure(const std::exception& e);

} // namespace kxsql
