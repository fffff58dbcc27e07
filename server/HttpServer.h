// The HTTP/1.1 side of the server: accepts connections, reads requests with a body limit and an
// idle timeout, hands them to the handler and writes the answers, keeping connections alive.
// The acceptor runs on the io_context's thread; connections may be dealt out to the contexts of
// other network threads, each run by one thread (no thread per connection). An answer given on
// a worker thread is written to its socket by that worker.
#pragma once

#include "HttpMessage.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace boost::asio::ssl {
class context;
}

// A connection as the server keeps track of it, plain or TLS.
class HttpConnectionBase {
public:
    virtual ~HttpConnectionBase() = default;
    virtual void StopIfIdle() = 0;
    // Ends what the connection is waiting for if its deadline has passed.
    virtual void ExpireIfDue() = 0;
    bool Due(std::chrono::steady_clock::time_point now) const {
        const auto at = deadline_.load(std::memory_order_relaxed);
        return at != 0 && at <= now.time_since_epoch().count();
    }

protected:
    // The read, write or handshake under way must end within `d` from now.
    void SetDeadline(std::chrono::steady_clock::duration d) {
        deadline_.store((std::chrono::steady_clock::now() + d).time_since_epoch().count(),
                        std::memory_order_relaxed);
    }

    // Nothing under way has a deadline (a call is running).
    void ClearDeadline() { deadline_.store(0, std::memory_order_relaxed); }

private:
    std::atomic<std::chrono::steady_clock::rep> deadline_{0};
};

struct HttpServerOptions {
    std::chrono::seconds idleTimeout{60};
    size_t bodyLimit = 1 << 20;
    // HTTPS with this certificate and key when set; it must outlive the server.
    boost::asio::ssl::context* tls = nullptr;
    // The body of an answer the server gives on its own, in the form the handler's answers
    // take (a request too large or malformed, a handler that threw, no descriptor left).
    std::function<std::string(unsigned status, const std::string& message)> errorBody;
    // Where accepted connections run, in turn; each context is run by one thread. Empty: on the
    // acceptor's context.
    std::vector<boost::asio::io_context*> connectionContexts;
};

class HttpServer {
public:
    using Handler = std::function<void(HttpRequestInfo, std::function<void(HttpReply)>)>;

    HttpServer(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& endpoint,
               Handler handler, HttpServerOptions options);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;
    boost::asio::ip::tcp::endpoint LocalEndpoint() const { return acceptor_.local_endpoint(); }
    // Open connections.
    size_t ConnectionCount() const;
    void Start();
    // Stops accepting and closes idle connections; a connection with a call in flight answers
    // it and then closes.
    void Stop();

private:
    template <class Stream> friend class HttpConnection;
    void Accept();
    void Shed();
    void Sweep();

    boost::asio::io_context& io_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retry_;
    boost::asio::steady_timer sweep_; // looks at the connections' deadlines
    Handler handler_;
    HttpServerOptions options_;
    std::atomic<bool> stopping_{false}; // read by workers writing answers
    bool shedding_ = false;             // accepting fails: logged once until it works again
    size_t nextContext_ = 0;
    int reserveFd_ = -1;     // given up to take and answer a connection when none is left
    std::string overloaded_; // the whole 503 answer given then
    // A connection leaves the set from its destructor, which runs wherever its last reference
    // goes: on the network thread, or on the worker whose answer callback held it last.
    mutable std::mutex connectionsMutex_;
    std::map<HttpConnectionBase*, std::weak_ptr<HttpConnectionBase>> connections_;
};
