// The operators who may sign in and their sessions. Passwords are kept only as salted Argon2id
// hashes; a session token is 256 random bits handed to the client once and stored only as its
// SHA-256, so neither a copy of the database nor its log opens a session.
#pragma once

#include "Database.h"

#include <optional>
#include <string>
#include <vector>

constexpr size_t kOperatorNameMax = 40; // the audit's CDOPERADOR
constexpr size_t kPasswordMin = 8;
constexpr size_t kPasswordMax = 1024; // bytes

// Portuguese reason why the text cannot be an operator's name or password, or "" when it can.
std::string OperatorNameProblem(const std::string& name);
std::string PasswordProblem(const std::string& password);

// Argon2id of the password with a fresh salt, and its check; both take a fraction of a second
// and tens of MiB on purpose.
std::string HashPassword(const std::string& password);
bool PasswordMatches(const std::string& hash, const std::string& password);

struct OperatorInfo {
    std::string name;
    bool active = false;
    long long created = 0; // seconds since 1970
    long long sessions = 0;
};

// Adds the operator, or gives an existing one this password, enables it again and closes its
// sessions. Returns true when the operator is new.
bool AddOperator(Database& db, const std::string& name, const std::string& password);
// Disables the operator and closes its sessions at once; false when there is no such operator.
bool DisableOperator(Database& db, const std::string& name);
std::vector<OperatorInfo> ListOperators(Database& db);

long long NowSeconds();

// Whether an operator of that name is registered, enabled or not.
bool OperatorExists(Database& db, const std::string& name);
// Whether any operator may sign in.
bool AnyActiveOperator(Database& db);

// Whether the operator and session tables are there (a database from before them lacks them).
bool OperatorTablesExist(Database& db);

// A new token (64 hex digits) and the SHA-256 that stands for it in the database.
std::string NewSessionToken();
std::string TokenDigest(const std::string& token);

// The caller answers both refusals alike; only its log tells a known operator from a name that is
// none (which may be a password typed into the wrong field, and is not logged).
enum class LoginResult { Ok, WrongCredentials, UnknownOperator };

// Checks the name and password of an enabled operator and opens a session that lasts
// `lifetimeSeconds`. An unknown name costs the same hash check as a wrong password.
LoginResult OpenSession(Database& db, const std::string& name, const std::string& password,
                        long long lifetimeSeconds, std::string& token);
// The enabled operator of an unexpired session; one indexed lookup, no password hash.
std::optional<std::string> SessionOperator(Database& db, const std::string& token);
// The same, on a call's session, by the token's digest.
std::optional<std::string> SessionOperatorOf(DbCall& db, const std::string& digest);
// Whether the text has the form of a token (64 hex digits).
bool IsSessionToken(const std::string& token);
void CloseSession(Database& db, const std::string& token);
// Unexpired sessions (expired ones are removed first).
long long CountOpenSessions(Database& db);
