#include "RelayServer.h"

#include "HttpClient.h"
#include "TcpFakes.h"

#include <sys/socket.h>

using nlohmann::json;

RelayServer::RelayServer(int upstreamPort) : upstreamPort_(upstreamPort) {
    server_ = std::make_unique<FakeServer>([this](int fd) { Serve(fd); });
}

RelayServer::~RelayServer() {
    server_.reset(); // every connection's thread ends before the answers go
}

int RelayServer::Port() const {
    return server_->Port();
}

void RelayServer::Answer(const std::string& method, const json& result) {
    std::lock_guard lock(mutex_);
    answers_[method] = result;
}

int RelayServer::Calls(const std::string& method) const {
    std::lock_guard lock(mutex_);
    auto it = calls_.find(method);
    return it == calls_.end() ? 0 : it->second;
}

void RelayServer::Serve(int fd) {
    HttpClient upstream(upstreamPort_); // this connection's own, kept alive as the client's is
    for (;;) {
        const std::string request = ReadHttpMessage(fd);
        if (request.empty()) break;
        std::string answer;
        try {
            answer = Respond(request, upstream);
        } catch (const std::exception&) {
            break; // the real server went away: so does the relay's connection
        }
        if (WriteAll(fd, answer) != answer.size()) break;
    }
    shutdown(fd, SHUT_RDWR); // the client sees the end at once
}

std::string RelayServer::Respond(const std::string& request, HttpClient& upstream) {
    const size_t headEnd = request.find("\r\n\r\n");
    const std::string body = request.substr(headEnd + 4);
    const std::string line = request.substr(0, request.find("\r\n"));
    const size_t verbEnd = line.find(' ');
    const size_t targetEnd = line.find(' ', verbEnd + 1);
    const std::string verb = line.substr(0, verbEnd);
    const std::string target = line.substr(verbEnd + 1, targetEnd - verbEnd - 1);

    const json call = json::parse(body, nullptr, false);
    if (verb == "POST" && call.is_object() && call.contains("method")) {
        const std::string method =
            call["method"].is_string() ? call["method"].get<std::string>() : "";
        std::lock_guard lock(mutex_);
        ++calls_[method];
        if (auto it = answers_.find(method); it != answers_.end())
            return HttpAnswer(
                200,
                json{{"jsonrpc", "2.0"}, {"id", call.value("id", json())}, {"result", it->second}}
                    .dump());
    }
    std::map<std::string, std::string> headers;
    if (const std::string op = HeaderOf(request, "X-Operator"); !op.empty())
        headers["X-Operator"] = op;
    const HttpResult passed = upstream.Send(verb, target, body, headers);
    return HttpAnswer(passed.status, passed.body);
}
