// The operators of the sessions a server saw lately, by the token's digest: the name a call runs
// under before the call's own transaction checks its session again. Bounded: when full it starts
// over, which costs each session one lookup of its own.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class SessionNames {
public:
    std::optional<std::string> Find(const std::string& digest) {
        std::lock_guard lock(mutex_);
        const auto it = names_.find(digest);
        if (it == names_.end()) return std::nullopt;
        return it->second;
    }
    void Put(const std::string& digest, const std::string& name) {
        std::lock_guard lock(mutex_);
        if (names_.size() >= kMax) names_.clear();
        names_[digest] = name;
    }
    void Forget(const std::string& digest) {
        std::lock_guard lock(mutex_);
        names_.erase(digest);
    }

private:
    static constexpr size_t kMax = 10000;
    std::mutex mutex_;
    std::unordered_map<std::string, std::string> names_;
};
