// Clients of the supplier-parameters module, each a thread on its own kept TNetConnection, driving
// running appservers for a while: what they got done and how long each call took.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

struct LoadPlan {
    std::vector<int> ports; // loopback servers; the clients spread over them in turn
    int clients = 4;
    // Client i loads suppliers[i % size]; with as many suppliers as clients no two saves meet.
    std::vector<std::string> suppliers;
    // Every other call a SetParamForn of the row just loaded that changes NRDIASBLOQNFFOR;
    // otherwise only GetParamForn.
    bool saves = true;
    // After every client's first call (the connection opened, the session signed in), calls
    // run this long before the window opens.
    double warmupSeconds = 0.5;
    double seconds = 3;
};

struct LoadResult {
    double seconds = 0; // the window, measured
    // The latency of every call that ended within the window, in µs.
    std::vector<double> loadUs, saveUs;
    long conflicts = 0;  // saves told that another client changed the row first
    long refusals = 0;   // answers "N"
    std::string failure; // the first other error; a client stops at its first

    long Calls() const { return static_cast<long>(loadUs.size() + saveUs.size()); }
    double PerSecond() const { return seconds > 0 ? static_cast<double>(Calls()) / seconds : 0; }
};

LoadResult DriveLoad(const LoadPlan& plan);

// The value below which the fraction q of the samples lie (nearest rank); 0 for none.
double Percentile(std::vector<double> samples, double q);

// Counters calls_per_s, p50_us, p99_us (of all calls), load_/save_p50_us and _p99_us, conflicts
// and refusals; a failure skips the benchmark with its message.
void ReportLoad(benchmark::State& state, const LoadResult& result);
