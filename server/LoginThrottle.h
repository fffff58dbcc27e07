// Slows down password guessing: after a few failed logins in a row for one operator name or from
// one address, further attempts for it are refused without checking the password until a pause
// has passed, and the pause doubles with every failure after that (up to a ceiling). A success
// clears the operator's and the address's count. The counts live in the database (FALHAENTRADA),
// so every server of one database counts the same failures and a restart forgets none; names and
// addresses are kept there only as digests, since a password typed into the name field is a name
// too.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

class Database;

class LoginThrottle {
public:
    // Wall-clock time: servers on several machines compare their times through the database.
    using Clock = std::chrono::system_clock;
    static constexpr int kFreeFailures = 5;
    static constexpr std::chrono::seconds kFirstPause{1};
    static constexpr std::chrono::seconds kLongestPause{300};

    explicit LoginThrottle(Database& db) : db_(db) {}

    // The pause that the n-th failure in a row starts (zero for the free ones).
    static std::chrono::milliseconds PauseAfter(int failures);

    // Seconds to wait before this operator or address may try again; 0 when it may try now.
    // These throw RpcError when the database fails.
    long long Wait(const std::string& name, const std::string& address, Clock::time_point now);
    void Failed(const std::string& name, const std::string& address, Clock::time_point now);
    void Succeeded(const std::string& name, const std::string& address);

private:
    Database& db_;
    // Entries whose pause ended long ago are removed now and then, so guessing with ever new
    // names cannot grow the table without end.
    std::atomic<long long> lastPruneMs_{0};
};
