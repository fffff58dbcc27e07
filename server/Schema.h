// The one SQL schema of the project (host tables and supplier parameters) per engine, its
// versions and the demo data: what "appserver init" applies and the tests build on.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "sql/Session.h"

namespace kxsql {

// The schema's version as this program knows it: the last of its steps.
constexpr int kSchemaVersion = 5;

// Step N brings a database of version N-1 to version N. Its statements must be safe to run again
// on a database that already has what they make (CREATE ... IF NOT EXISTS): databases from
// before the version stamp have some or all of it, and init runs every step each time, so that
// what was dropped by hand comes back.
struct SchemaStep {
    int version;
    std::vector<std::string> statements;
};
const std::vector<SchemaStep>& SchemaSteps(Engine);

// Every step's statements in order: running them again changes nothing.
const std::vector<std::string>& SchemaStatements(Engine);

// The version stamped in the database: PRAGMA user_version on SQLite, the highest NRVERSAO of the
// table VERSAOESQUEMA on PostgreSQL; 0 for a database from before the stamp.
int StoredSchemaVersion(soci::session& session, Engine engine);

// The statements that stamp the current version, for a script that applies the schema.
std::vector<std::string> SchemaStampStatements(Engine engine);

// A database stamped by a newer program: init changes nothing in it.
struct NewerSchemaError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Demo suppliers, operator groups, products and parameters; a row already present is kept.
const std::vector<std::string>& DemoStatements(Engine);

// What "appserver init" does: brings the schema from its stamped version to upTo (the current
// one unless a test asks for an older), step by step, each step in a transaction that also
// stamps its version; then with demo adds the demo rows. Throws NewerSchemaError for a database
// of a newer program, else what the database said.
void InitDatabase(const std::string& url, bool demo, int upTo = kSchemaVersion);

} // namespace kxsql
