#include "LoginThrottle.h"

#include <algorithm>

namespace {
constexpr std::chrono::hours kForgetAfter{1};
}

long long LoginThrottle::Wait(const std::string& name, const std::string& address,
                              Clock::time_point now) {
    std::lock_guard lock(mutex_);
    Clock::time_point until{};
    if (auto it = byName_.find(name); it != byName_.end()) until = it->second.blockedUntil;
    if (auto it = byAddress_.find(address); it != byAddress_.end())
        until = std::max(until, it->second.blockedUntil);
    if (until <= now) return 0;
    const auto left = std::chrono::ceil<std::chrono::seconds>(until - now);
    return std::max<long long>(1, left.count());
}

void LoginThrottle::Fail(std::map<std::string, Entry>& table, const std::string& key,
                         Clock::time_point now) {
    Entry& e = table[key];
    ++e.failures;
    e.last = now;
    if (e.failures < kFreeFailures) return;
    const int doublings = std::min(e.failures - kFreeFailures, 16);
    const auto pause =
        std::min<std::chrono::seconds>(kFirstPause * (1LL << doublings), kLongestPause);
    e.blockedUntil = now + pause;
}

void LoginThrottle::Failed(const std::string& name, const std::string& address,
                           Clock::time_point now) {
    std::lock_guard lock(mutex_);
    Prune(now);
    Fail(byName_, name, now);
    Fail(byAddress_, address, now);
}

void LoginThrottle::Succeeded(const std::string& name, const std::string& address) {
    std::lock_guard lock(mutex_);
    byName_.erase(name);
    byAddress_.erase(address);
}

void LoginThrottle::Prune(Clock::time_point now) {
    if (now - lastPrune_ < std::chrono::minutes(1)) return;
    lastPrune_ = now;
    for (auto* table : {&byName_, &byAddress_})
        std::erase_if(*table, [&](const auto& kv) {
            return std::max(kv.second.last, kv.second.blockedUntil) + kForgetAfter < now;
        });
}
