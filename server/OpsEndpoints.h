// What an administrator's tools ask without a session: GET /healthz (the process answers),
// GET /readyz (the database answers) and GET /metrics (Prometheus text).
#pragma once

#include "HttpMessage.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <functional>
#include <mutex>
#include <vector>

class Database;
class Metrics;

class OpsEndpoints {
public:
    OpsEndpoints(Metrics& metrics, Database& db, boost::asio::io_context& io);
    ~OpsEndpoints();

    static bool Serves(const std::string& target);
    // Told once each time readiness changes: whether ready, and why not.
    void SetReadinessLog(std::function<void(bool ready, const std::string& why)> log) {
        readinessLog_ = std::move(log);
    }
    // On the io_context's thread; done runs there too.
    void Handle(const HttpRequestInfo& request, std::function<void(HttpReply)> done);
    // Waits for a readiness check still running.
    void Join();

private:
    void CheckDatabase();

    Metrics& metrics_;
    Database& db_;
    boost::asio::io_context& io_;
    // Readiness checks run here, never on a call's worker: a database that hangs holds one
    // check, and the requests that arrive meanwhile share its answer.
    boost::asio::thread_pool checker_{1};
    std::mutex waitingMutex_; // the network threads queue, the check's answer takes them
    std::vector<std::function<void(HttpReply)>> waiting_;
    std::function<void(bool, const std::string&)> readinessLog_;
    bool ready_ = true;        // as last told (checker's thread only)
    std::string notReadyWhy_;  // likewise
    bool probeFailed_ = false; // the last probe failed (likewise)
};
