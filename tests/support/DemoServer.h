// A demo database and the real appserver serving it on a loopback port, one per program, for the
// benchmarks that measure the server over the wire. Stopped and removed at the program's end.
#pragma once

#include "ServerProcess.h"
#include "TestDatabase.h"

#include <string>

class DemoServer {
public:
    // Started on first use.
    static DemoServer& Shared();
    ~DemoServer();

    const std::string& DbUrl() const { return db_.Url(); }
    int Port() const { return server_.Port(); }
    std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }

private:
    DemoServer();
    TestDatabase db_;
    ServerProcess server_;
};
