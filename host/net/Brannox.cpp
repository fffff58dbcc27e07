#include "net/Brannox.h"

#include <cstdlib>
#include <mutex>
#include <optional>

namespace {

const char* kDefaultServer = "127.0.0.1:4711";
constexpr int kDefaultPort = 4711;

std::mutex mutex;
std::optional<String> configured;

struct Address {
    String host;
    int port = kDefaultPort;
    bool tls = false;
};

std::optional<Address> Parse(String text) {
    bool tls = false;
    if (text.rfind("https://", 0) == 0) {
        tls = true;
        text = text.substr(8);
    } else if (text.rfind("http://", 0) == 0) {
        text = text.substr(7);
    }
    if (!text.empty() && text.back() == '/') text.pop_back();
    const auto colon = text.rfind(':');
    if (colon == String::npos || colon == 0 || colon + 1 == text.size()) return std::nullopt;
    Address a;
    a.host = text.substr(0, colon);
    if (a.host.size() >= 2 && a.host.front() == '[' && a.host.back() == ']')
        a.host = a.host.substr(1, a.host.size() - 2);
    if (a.host.empty() || a.host.find_first_of("[] ") != String::npos) return std::nullopt;
    int port = 0;
    for (char c : text.substr(colon + 1)) {
        if (c < '0' || c > '9' || port > 65535) return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    a.port = port;
    a.tls = tls;
    return a;
}

// A malformed KX_SERVER is ignored rather than breaking every connection.
Address Current() {
    {
        std::lock_guard lock(mutex);
        if (configured) return *Parse(*configured);
    }
    if (const char* env = std::getenv("KX_SERVER"); env && *env)
        if (auto a = Parse(env)) return *a;
    return *Parse(kDefaultServer);
}

} // namespace

namespace Brannox {

String WebURL() {
    return Current().host;
}

int WebPort() {
    return Current().port;
}

bool WebTls() {
    return Current().tls;
}

void SetServer(const String& hostPort) {
    std::lock_guard lock(mutex);
    if (hostPort.empty()) {
        configured.reset();
        return;
    }
    if (!Parse(hostPort))
        throw Exception("Endereço do servidor de aplicação inválido: \"" + hostPort +
                        "\" (use HOST:PORTA ou https://HOST:PORTA).");
    configured = hostPort;
}

} // namespace Brannox
