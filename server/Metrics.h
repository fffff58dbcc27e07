// The server's counters in the Prometheus text format. Every call updates a few atomics of cells
// made when the server starts (one per module and method), so the hot path takes no lock.
#pragma once

#include "CallRecord.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class ModuleRegistry;

class LatencyHistogram {
public:
    // Upper bounds in seconds; the last bucket (+Inf) is implicit.
    static constexpr std::array<double, 13> kBounds = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                       0.25,  0.5,    1,     2.5,  5,     10};
    void Observe(double seconds);
    // Cumulative counts per bucket (+Inf last), the count and the sum in seconds.
    std::array<uint64_t, kBounds.size() + 1> Cumulative() const;
    double Sum() const;

private:
    std::array<std::atomic<uint64_t>, kBounds.size() + 1> buckets_{};
    std::atomic<uint64_t> sumNanos_{0};
};

class Metrics {
public:
    // Label of the method of a call that named none or one its module does not have, so a client
    // cannot grow the label set.
    static constexpr const char* kOtherMethod = "_other";

    // The calls of the registered modules, and of modules the server answers itself (the
    // session module): name -> methods.
    explicit Metrics(const ModuleRegistry& modules,
                     const std::map<std::string, std::vector<std::string>>& ownModules = {});

    void CallStarted() { inFlight_.fetch_add(1, std::memory_order_relaxed); }
    void CallEnded(const CallRecord& record);

    // A value read when the metrics are rendered (connections, sessions, ...).
    void AddGauge(std::string name, std::string help, std::function<double()> read,
                  bool counter = false);

    std::string Render() const;

private:
    struct Cells {
        std::string module, method;
        std::array<std::atomic<uint64_t>, kCallOutcomeCount> calls{};
        LatencyHistogram latency;
    };
    struct Sampled {
        std::string name, help;
        std::function<double()> read;
        bool counter;
    };
    Cells& CellsOf(const std::string& module, const std::string& method);

    std::vector<std::unique_ptr<Cells>> cells_;
    std::map<std::string, std::map<std::string, Cells*>> index_; // fixed after construction
    Cells unknownModule_;
    std::atomic<int64_t> inFlight_{0};
    std::atomic<uint64_t> saves_{0};
    std::array<std::atomic<uint64_t>, kLoginOutcomeCount> logins_{}; // by LoginOutcome - 1
    std::vector<Sampled> sampled_;
    double startTime_;
};
