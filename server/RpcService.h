// JSON-RPC 2.0 over HTTP: routes /rpc/<ServerName> to the registered modules and runs the
// calls, the short ones on the network thread that read them, the others on a small pool of
// worker threads.
#pragma once

#include "CallRecord.h"
#include "HttpMessage.h"
#include "JsonRpc.h"
#include "LoginThrottle.h"
#include "ModuleRegistry.h"
#include "SessionNames.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Database;

// Who may call: by default only an operator with an open session; with `required` false the
// caller's X-Operator header is trusted (loopback only, checked by the caller).
struct AuthOptions {
    bool required = true;
    long long sessionSeconds = 8LL * 3600; // a session's life from its login
};

class RpcService {
public:
    // The path /rpc/<kSessionModule> opens and closes sessions (Login, Logout) without one.
    static constexpr const char* kSessionModule = "Sessao";
    static std::vector<std::string> SessionMethods() { return {"Login", "Logout"}; }

    RpcService(ModuleRegistry& modules, Database& db, std::optional<std::string> fixedToday,
               boost::asio::io_context& io, int workers);
    ~RpcService();

    // done runs on the calling thread for answers given there (a quick call's included), else on
    // the worker that ran the call (before the work guard that keeps the io_context running is
    // let go).
    void Handle(HttpRequestInfo request, std::function<void(HttpReply)> done);

    // With `networkThreads` > 0, a quick call (a module's Quick method, Logout, a module's
    // description) runs on the network thread that read it, saving two thread switches, while
    // fewer calls than network threads are running; the others go to the workers. Under load the
    // network threads so keep reading and writing while the workers wait on the database.
    void SetInlineCalls(int networkThreads) { inlineBelow_ = networkThreads; }

    // Waits for the calls still running.
    void Join();

    // Told of every call, on the worker that ran it; set before serving.
    void SetObserver(CallObserver* observer) { observer_ = observer; }
    void SetAuth(const AuthOptions& options) { auth_ = options; }
    const AuthOptions& Auth() const { return auth_; }
    // Unexpired sessions as of the last login or logout through this server (or the start).
    long long OpenSessions() const { return openSessions_.load(std::memory_order_relaxed); }
    // Counts the open sessions in the database now; a failure leaves the count as it was.
    void RecountSessions();

    // JSON of a JSON-RPC error answer.
    static std::string ErrorBody(const nlohmann::json& id, int code, const std::string& message);
    // The body of an answer the HTTP server gives on its own (a malformed or too large request,
    // an overload): a JSON-RPC error, the client's fault below status 500.
    static std::string HttpErrorBody(unsigned status, const std::string& message);

private:
    // What a call takes from its HTTP request.
    struct Request {
        std::string body;
        std::string remoteAddress;
        std::string requestId;                     // X-Request-Id when a plain token, else ours
        std::string authorization;                 // Authorization
        std::optional<std::string> operatorName;   // X-Operator
        std::optional<std::string> idempotencyKey; // Idempotency-Key
        // The body decoded already (on the network thread, to tell a quick call), or the
        // fault that decoding it met, with the id known by then.
        std::optional<RpcCall> call;
        std::exception_ptr callFault;
        nlohmann::json faultId;
    };

    HttpReply Invoke(RemoteModule& module, Request& request);
    HttpReply InvokeSession(Request& request);
    static RpcCall Decode(Request& request, nlohmann::json& id);
    // Runs run() here when it is quick and calls run inline, else on a worker; done gets its
    // answer.
    void Dispatch(bool quick, std::function<HttpReply()> run, std::function<void(HttpReply)> done);
    // The operator of the session an Authorization header names; nothing when it names none valid.
    std::optional<std::string> SessionOf(const std::string& authorization);
    // The same for a call: a session seen lately is taken from memory and checked again in the
    // call's own transaction (digest receives its key); another one is checked now.
    std::optional<std::string> CallOperator(const std::string& authorization, std::string& digest);
    // Whether the check of the call's session passed; made now if the call did not make it.
    bool SessionConfirmed(const std::string& digest);

    ModuleRegistry& modules_;
    Database& db_;
    std::optional<std::string> fixedToday_;
    boost::asio::io_context& io_;
    boost::asio::thread_pool pool_;
    CallObserver* observer_ = nullptr;
    AuthOptions auth_;
    LoginThrottle throttle_{db_};
    SessionNames sessionNames_;
    std::atomic<long long> openSessions_{0};
    int inlineBelow_ = 0;
    std::atomic<int> running_{0}; // calls dispatched and not yet answered
};
