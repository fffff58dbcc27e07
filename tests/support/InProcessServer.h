// The application server's handling of calls (RpcService and its remote modules) on a database,
// running in the test's own process: what appserver serve does, minus the HTTP connections.
//
// While it runs it owns the loopback address 127.0.0.1:Port(): the port is bound, never listened
// on, so no other server can take it and a TCP client is refused there. The TNetConnections of
// this process reach it at that address through the transports of InProcessTransports(), which
// hand each request to RpcService as the HTTP side would (headers, JSON-RPC errors, idempotency
// keys and every check of the server included). Stopped, it lets the port go, as a stopped
// appserver does, and what connects there next goes over TCP to nothing.
#pragma once

#include "net/NetTransport.h"

#include <memory>
#include <string>

class InProcessServer {
public:
    // today fixes the server's date (YYYY-MM-DD; empty: the real one); port 0 takes a free one.
    // Without sessions the caller's X-Operator is trusted, as appserver serve --auth off does
    // (the test harness's choice for tests that are not about signing in).
    explicit InProcessServer(const std::string& dbUrl, const std::string& today = "2026-12-08",
                             int port = 0, bool sessions = false);
    ~InProcessServer();
    InProcessServer(const InProcessServer&) = delete;
    InProcessServer& operator=(const InProcessServer&) = delete;

    int Port() const { return port_; }
    // "127.0.0.1:<port>", as the host's settings take it.
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    bool Running() const { return core_ != nullptr; }
    // Waits for the calls still running, then lets the port go.
    void Stop();

    struct Core;

private:
    std::shared_ptr<Core> core_;
    int port_ = 0;
};

// For TNetConnection::SetTransportFactory: the transport to the running in-process server of
// host:port, nullptr (TCP) for any other address.
TNetTransportFactory InProcessTransports();
