#include "LoginThrottle.h"

#include "Database.h"
#include "Operators.h"

#include <soci/soci.h>

#include <algorithm>

namespace {

constexpr std::chrono::hours kForgetAfter{1};
constexpr std::chrono::minutes kPruneEvery{1};

long long Millis(LoginThrottle::Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

std::string NameKey(const std::string& name) {
    return TokenDigest("n:" + name);
}

std::string AddressKey(const std::string& address) {
    return TokenDigest("a:" + address);
}

} // namespace

std::chrono::milliseconds LoginThrottle::PauseAfter(int failures) {
    if (failures < kFreeFailures) return std::chrono::milliseconds(0);
    const int doublings = std::min(failures - kFreeFailures, 16);
    return std::min<std::chrono::milliseconds>(kFirstPause * (1LL << doublings), kLongestPause);
}

long long LoginThrottle::Wait(const std::string& name, const std::string& address,
                              Clock::time_point now) {
    std::string byName = NameKey(name), byAddress = AddressKey(address);
    long long until = 0;
    db_.Run([&](DbCall& db) -> nlohmann::json {
        soci::indicator ind = soci::i_null;
        Query(db, "SELECT MAX(NRBLOQUEIO) FROM FALHAENTRADA WHERE CDCHAVE IN (:n, :a)")
            .Into(until, ind)
            .Use(byName)
            .Use(byAddress)
            .Run();
        if (ind != soci::i_ok) until = 0;
        return nullptr;
    });
    const long long left = until - Millis(now);
    if (left <= 0) return 0;
    return std::max<long long>(1, (left + 999) / 1000);
}

void LoginThrottle::Failed(const std::string& name, const std::string& address,
                           Clock::time_point now) {
    const long long at = Millis(now);
    long long lastPrune = lastPruneMs_.load();
    const bool prune =
        at - lastPrune >=
            std::chrono::duration_cast<std::chrono::milliseconds>(kPruneEvery).count() &&
        lastPruneMs_.compare_exchange_strong(lastPrune, at);
    db_.Run([&](DbCall& db) -> nlohmann::json {
        db.Begin();
        for (std::string key : {NameKey(name), AddressKey(address)}) {
            long long when = at;
            // The row stays locked until the commit: two servers failing the same key at once
            // count two failures, one after the other.
            db.Sql() << "INSERT INTO FALHAENTRADA (CDCHAVE, NRFALHAS, NRULTIMA, NRBLOQUEIO) "
                        "VALUES (:k, 1, :t, 0) ON CONFLICT (CDCHAVE) DO UPDATE SET "
                        "NRFALHAS = FALHAENTRADA.NRFALHAS + 1, NRULTIMA = :t2",
                soci::use(key), soci::use(when), soci::use(when);
            int failures = 0;
            Query(db, "SELECT NRFALHAS FROM FALHAENTRADA WHERE CDCHAVE = :k")
                .Into(failures)
                .Use(key)
                .Run();
            const auto pause = PauseAfter(failures);
            if (pause.count() == 0) continue;
            long long until = at + pause.count();
            db.Sql() << "UPDATE FALHAENTRADA SET NRBLOQUEIO = :u WHERE CDCHAVE = :k AND "
                        "NRBLOQUEIO < :u2",
                soci::use(until), soci::use(key), soci::use(until);
        }
        if (prune) {
            long long old =
                at - std::chrono::duration_cast<std::chrono::milliseconds>(kForgetAfter).count();
            db.Sql() << "DELETE FROM FALHAENTRADA WHERE NRULTIMA < :o AND NRBLOQUEIO < :o2",
                soci::use(old), soci::use(old);
        }
        db.Commit();
        return nullptr;
    });
}

void LoginThrottle::Succeeded(const std::string& name, const std::string& address) {
    std::string byName = NameKey(name), byAddress = AddressKey(address);
    db_.Run([&](DbCall& db) -> nlohmann::json {
        db.Begin();
        db.Sql() << "DELETE FROM FALHAENTRADA WHERE CDCHAVE IN (:n, :a)", soci::use(byName),
            soci::use(byAddress);
        db.Commit();
        return nullptr;
    });
}
