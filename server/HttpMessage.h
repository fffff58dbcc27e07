// A request as the HTTP server hands it on and the reply it writes. Nothing here knows what a
// body carries: the handler reads the headers it acts on.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequestInfo {
    std::string method; // GET, POST, ...
    std::string target;
    std::string body;
    std::string remoteAddress; // the client's IP address
    HttpHeaders headers;       // as received, in order

    // The first header of that name, compared without regard to case; nothing when absent.
    std::optional<std::string> Header(std::string_view name) const {
        for (const auto& [key, value] : headers)
            if (key.size() == name.size() &&
                std::equal(key.begin(), key.end(), name.begin(),
                           [](char a, char b) { return Lower(a) == Lower(b); }))
                return value;
        return std::nullopt;
    }

private:
    static char Lower(char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
};

struct HttpReply {
    HttpReply(unsigned code = 200, std::string text = {}, std::string allowed = {})
        : status(code), body(std::move(text)), allow(std::move(allowed)) {}
    unsigned status = 200;
    std::string body;        // JSON, or empty for 204
    std::string allow;       // Allow header of a 405
    std::string contentType; // JSON when empty
    HttpHeaders headers;
};
