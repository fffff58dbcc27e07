#include "IdempotencyStore.h"

#include "JsonRpc.h"
#include "RpcError.h"
#include "Sha256.h"

#include <soci/soci.h>

#include <atomic>
#include <iostream>

namespace {

long long NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::atomic<long long> lastPurge{0};

} // namespace

std::string IdempotencyDigest(const std::string& method, const nlohmann::json& params,
                              const std::optional<std::string>& operatorName) {
    return Sha256Hex(method + '\n' + (operatorName ? *operatorName : std::string()) + '\n' +
                     DumpJson(params));
}

std::optional<StoredAnswer> ClaimIdempotencyKey(DbCall& db, const std::string& key,
                                                const std::string& digest,
                                                const nlohmann::json& answer) {
    struct Claim : PreparedCache::Entry {
        std::string key, digest, answer;
        long long now = 0;
        std::unique_ptr<Query> query;
    };
    auto& claim = db.Prepared().Get<Claim>("ClaimIdempotencyKey", [&] {
        auto c = std::make_unique<Claim>();
        c->query = std::make_unique<Query>(
            db, "INSERT INTO CHAVEIDEMPOT (CDCHAVEIDEMPOT, DSHASHREQ, DSRESPOSTA, NRCRIACAO) "
                "VALUES (:k, :d, :r, :t) ON CONFLICT (CDCHAVEIDEMPOT) DO NOTHING");
        c->query->Use(c->key).Use(c->digest).Use(c->answer).Use(c->now);
        return c;
    });
    claim.key = key;
    claim.digest = digest;
    claim.answer = DumpJson(answer);
    claim.now = NowSeconds();
    claim.query->Run();
    if (claim.query->AffectedRows() == 1) return std::nullopt;

    StoredAnswer stored;
    std::string text;
    std::string k = key;
    const bool found =
        Query(db, "SELECT DSHASHREQ, DSRESPOSTA FROM CHAVEIDEMPOT WHERE CDCHAVEIDEMPOT = :k")
            .Into(stored.digest)
            .Into(text)
            .Use(k)
            .Run();
    if (!found || text.empty())
        throw std::runtime_error("chave de idempotência sem resposta guardada: " + key);
    stored.answer = nlohmann::json::parse(text);
    return stored;
}

std::optional<nlohmann::json> CommittedAnswer(DbCall& db, const std::string& key,
                                              const std::string& digest) {
    if (db.Engine() == kxsql::Engine::PostgreSQL) {
        db.Begin();
        std::optional<StoredAnswer> stored = ClaimIdempotencyKey(db, key, digest, nullptr);
        db.Rollback();
        if (!stored) return std::nullopt;
        return std::move(stored->answer);
    }
    // SQLite finished the failed COMMIT before the session closed: what is stored is final.
    std::string answer, k = key;
    soci::indicator ind = soci::i_null;
    const bool found = Query(db, "SELECT DSRESPOSTA FROM CHAVEIDEMPOT WHERE CDCHAVEIDEMPOT = :k")
                           .Into(answer, ind)
                           .Use(k)
                           .Run();
    if (!found || ind != soci::i_ok || answer.empty()) return std::nullopt;
    return nlohmann::json::parse(answer);
}

bool IdempotencyKeyAnswered(DbCall& db, const std::string& key) {
    std::string answer, k = key;
    soci::indicator ind = soci::i_null;
    const bool found = Query(db, "SELECT DSRESPOSTA FROM CHAVEIDEMPOT WHERE CDCHAVEIDEMPOT = :k")
                           .Into(answer, ind)
                           .Use(k)
                           .Run();
    return found && ind == soci::i_ok && !answer.empty();
}

void PurgeExpiredIdempotencyKeys(Database& database) {
    const long long now = NowSeconds();
    long long last = lastPurge.load();
    if (now - last < 3600 || !lastPurge.compare_exchange_strong(last, now)) return;
    long long limit =
        now - std::chrono::duration_cast<std::chrono::seconds>(kIdempotencyKeyLifetime).count();
    try {
        database.Run([&](DbCall& db) -> nlohmann::json {
            db.Begin();
            db.Sql() << "DELETE FROM CHAVEIDEMPOT WHERE NRCRIACAO < :t", soci::use(limit);
            db.Commit();
            return nullptr;
        });
    } catch (const RpcError& e) {
        lastPurge = last; // tried again by the next save
        std::cerr << "appserver: limpeza das chaves de idempotência adiada: " << e.what() << " "
                  << e.Detail() << std::endl;
    }
}

bool IdempotencyTableExists(Database& database) {
    try {
        database.Run([](DbCall& db) -> nlohmann::json {
            long long n = 0;
            Query(db, "SELECT COUNT(*) FROM CHAVEIDEMPOT WHERE 1 = 0").Into(n).Run();
            return nullptr;
        });
        return true;
    } catch (const RpcError&) {
        return false;
    }
}
