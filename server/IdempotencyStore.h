// Saves applied at most once: the answer of a save is stored under the client's Idempotency-Key
// in the save's own transaction, and a request that repeats the key gets that answer back.
#pragma once

#include "Database.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <string>

// How long a key is remembered: a client retries within seconds; a day covers any clock.
constexpr std::chrono::hours kIdempotencyKeyLifetime{24};

// SHA-256 (hex) of what makes two requests the same save: method, params and operator.
std::string IdempotencyDigest(const std::string& method, const nlohmann::json& params,
                              const std::optional<std::string>& operatorName);

struct StoredAnswer {
    std::string digest;
    nlohmann::json answer;
};

// Inside the open transaction, before anything is written: takes the key for this call, with the
// answer the call gives if its transaction commits, and returns nullopt; or returns what an
// earlier call stored under it. A call with the same key that is still running makes this wait
// until it commits (its answer is returned) or rolls back (the key is taken here).
std::optional<StoredAnswer> ClaimIdempotencyKey(DbCall& db, const std::string& key,
                                                const std::string& digest,
                                                const nlohmann::json& answer);

// After a COMMIT whose answer was lost, on a fresh session: the answer stored under the key if
// that commit happened, else nothing (and the key stays free for the client's repeat). On
// PostgreSQL the key is claimed and let go, so a commit the old session still has under way
// is waited for instead of being missed.
std::optional<nlohmann::json> CommittedAnswer(DbCall& db, const std::string& key,
                                              const std::string& digest);

// Whether a committed call stored its answer under the key, without taking it (a dry run's look).
bool IdempotencyKeyAnswered(DbCall& db, const std::string& key);

// Forgets keys older than their lifetime; runs at most once an hour per process, in a
// transaction of its own. A failure is left for the next time.
void PurgeExpiredIdempotencyKeys(Database& db);

// Whether the table of keys is there (a database initialised before it was added lacks it).
bool IdempotencyTableExists(Database& db);
