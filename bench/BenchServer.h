// A demo database in a temporary directory and a real appserver serving it on a loopback port,
// for the benchmarks that need the server. Stopped and removed when the object goes away.
#pragma once

#include <string>

class BenchServer {
public:
    BenchServer();
    ~BenchServer();
    BenchServer(const BenchServer&) = delete;
    BenchServer& operator=(const BenchServer&) = delete;

    const std::string& DbUrl() const { return url_; }
    int Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

    // The one server of the program, started on first use.
    static BenchServer& Shared();

private:
    std::string dir_;
    std::string url_;
    int pid_ = -1;
    int port_ = 0;
};
