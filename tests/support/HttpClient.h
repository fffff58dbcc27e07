// A blocking HTTP/1.1 client for tests of the server: one keep-alive connection, reopened when
// the server closed it.
#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>

struct HttpResult {
    int status = 0;
    std::string body;
    std::map<std::string, std::string> headers;
    nlohmann::json Json() const { return nlohmann::json::parse(body); }
};

class HttpClient {
public:
    explicit HttpClient(int port);
    ~HttpClient();
    HttpResult Send(const std::string& verb, const std::string& target, const std::string& body,
                    const std::map<std::string, std::string>& headers = {});
    // POST /rpc/Kxf27400.rdmParamForne; the whole JSON-RPC answer.
    nlohmann::json Call(const std::string& method, const nlohmann::json& params,
                        const std::optional<std::string>& operatorName = std::nullopt);
    int Connects() const { return connects_; }
    // Sent as "Authorization: Bearer" with every request from now on ("" sends none).
    void SetToken(std::string token) { token_ = std::move(token); }
    // True when the server closed the connection (read gives end of stream within the time).
    bool ClosedByServer(int waitMs);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_;
    int connects_ = 0;
    std::string token_;
};
