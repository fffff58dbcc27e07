// Slows down password guessing: after a few failed logins in a row for one operator name or from
// one address, further attempts for it are refused without checking the password until a pause
// has passed, and the pause doubles with every failure after that (up to a ceiling). A success
// clears the operator's and the address's count. Kept in memory: a restart forgets it.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFreeFailures = 5;
    static constexpr std::chrono::seconds kFirstPause{1};
    static constexpr std::chrono::seconds kLongestPause{300};

    // Seconds to wait before this operator or address may try again; 0 when it may try now.
    long long Wait(const std::string& name, const std::string& address, Clock::time_point now);
    void Failed(const std::string& name, const std::string& address, Clock::time_point now);
    void Succeeded(const std::string& name, const std::string& address);

private:
    struct Entry {
        int failures = 0;
        Clock::time_point last{}; // the latest failure
        Clock::time_point blockedUntil{};
    };
    void Fail(std::map<std::string, Entry>& table, const std::string& key, Clock::time_point now);
    // Forgets entries whose pause ended long ago, so guessing with ever new names cannot grow
    // the tables without end.
    void Prune(Clock::time_point now);

    std::mutex mutex_;
    std::map<std::string, Entry> byName_, byAddress_;
    Clock::time_point lastPrune_{};
};
