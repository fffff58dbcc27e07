// A demo database and the real appserver serving it on a loopback port, one per program, for the
// benchmarks that measure the server over the wire. Stopped and removed at the program's end.
// The server requires sessions, as in production: the host's connections sign in as kOperator.
#pragma once

#include "ServerProcess.h"
#include "TestDatabase.h"

#include "net/NetConnection.h"

#include <string>

class DemoServer {
public:
    static constexpr const char* kOperator = "bench";
    static constexpr const char* kPassword = "senha-do-benchmark";

    // Started on first use; every TNetConnection of the program then signs in as kOperator on
    // its first call (once: the session is shared).
    static DemoServer& Shared() {
        static DemoServer& server = Start();
        return server;
    }
    ~DemoServer();

    const std::string& DbUrl() const { return db_.Url(); }
    int Port() const { return server_.Port(); }
    std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }

private:
    DemoServer();
    static DemoServer& Start() {
        static DemoServer server;
        TNetConnection::SetOperator(kOperator);
        TNetConnection::SetPassword(kPassword);
        return server;
    }
    // Before server_: the operator exists when the server starts.
    struct Operator {
        explicit Operator(const std::string& dbUrl);
    };
    TestDatabase db_;
    Operator operator_;
    ServerProcess server_;
};
