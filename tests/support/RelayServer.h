// An application server between the screen and the real appserver: it passes every request on,
// except the calls of a method the test has given an answer of its own, which it answers itself
// with that JSON-RPC result and passes nothing on. So a test can give the screen the answers
// another server might send.
#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <mutex>
#include <string>

class FakeServer;
class HttpClient;

class RelayServer {
public:
    explicit RelayServer(int upstreamPort);
    ~RelayServer();
    RelayServer(const RelayServer&) = delete;
    RelayServer& operator=(const RelayServer&) = delete;

    int Port() const;
    // From now on `method` is answered with `result` and not passed on.
    void Answer(const std::string& method, const nlohmann::json& result);
    // Calls of `method` that reached this server, answered or passed on.
    int Calls(const std::string& method) const;

private:
    void Serve(int fd);
    // The answer to one request: its own, or the real server's status and body.
    std::string Respond(const std::string& request, HttpClient& upstream);

    int upstreamPort_;
    mutable std::mutex mutex_;
    std::map<std::string, nlohmann::json> answers_;
    std::map<std::string, int> calls_;
    std::unique_ptr<FakeServer> server_;
};
