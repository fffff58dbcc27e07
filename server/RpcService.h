// JSON-RPC 2.0 over HTTP: routes /rpc/<ServerName> to the registered modules and runs the
// calls on a small pool of worker threads, so the network thread never waits for the database.
#pragma once

#include "CallRecord.h"
#include "ModuleRegistry.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Database;

struct HttpRequestInfo {
    std::string method; // GET, POST, ...
    std::string target;
    std::string body;
    std::optional<std::string> operatorName;   // X-Operator header
    std::string requestId;                     // X-Request-Id header
    std::optional<std::string> idempotencyKey; // Idempotency-Key header
};

struct HttpReply {
    HttpReply(unsigned code = 200, std::string text = {}, std::string allowed = {})
        : status(code), body(std::move(text)), allow(std::move(allowed)) {}
    unsigned status = 200;
    std::string body;        // JSON, or empty for 204
    std::string allow;       // Allow header of a 405
    std::string contentType; // JSON when empty
    std::vector<std::pair<std::string, std::string>> headers;
};

class RpcService {
public:
    RpcService(ModuleRegistry& modules, Database& db, std::optional<std::string> fixedToday,
               boost::asio::io_context& io, int workers);
    ~RpcService();

    // done runs on the io_context's thread for answers given at once, else on the worker that
    // ran the call (before the work guard that keeps the io_context running is let go).
    void Handle(HttpRequestInfo request, std::function<void(HttpReply)> done);

    // Waits for the calls still running.
    void Join();

    // Told of every call, on the worker that ran it; set before serving.
    void SetObserver(CallObserver* observer) { observer_ = observer; }

    // JSON of a JSON-RPC error answer.
    static std::string ErrorBody(const nlohmann::json& id, int code, const std::string& message);

private:
    HttpReply Invoke(RemoteModule& module, const HttpRequestInfo& request);

    ModuleRegistry& modules_;
    Database& db_;
    std::optional<std::string> fixedToday_;
    boost::asio::io_context& io_;
    boost::asio::thread_pool pool_;
    CallObserver* observer_ = nullptr;
};
