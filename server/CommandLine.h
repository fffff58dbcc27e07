// The appserver's command line: "--name VALUE" or "--name=VALUE" options, completed from the
// environment and the configuration file (Config.h), and the settings of "serve" read from them.
// Every refusal is a UsageError that names the option and where its value came from.
#pragma once

#include "RpcService.h"

#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

namespace boost::asio::ssl {
class context;
}

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::map<std::string, std::string> values;
    std::map<std::string, std::string> origins; // option -> file:line or variable, when not given
    std::set<std::string> flags;
    bool help = false;
};

// valued and flags are the options the command allows; the arguments from `first` on are read.
Options ParseCommandLine(int argc, char** argv, const std::set<std::string>& valued,
                         const std::set<std::string>& flags, int first = 2);

// Fills the valued options the command line left out from the KX_APPSERVER_* variables, then
// from the configuration file (--config or KX_APPSERVER_CONFIG).
void ApplySettings(Options& o, const std::set<std::string>& valued);

// The option's name for a message, with where its value came from when not the command line.
std::string Where(const Options& o, const std::string& option);

// The --db URL, of a known engine.
std::string RequireDb(const Options& o);

int ParseInt(const std::string& option, const std::string& text, int min, int max);

// HOST:PORT, [V6]:PORT or :PORT (the loopback interface); a name is resolved.
boost::asio::ip::tcp::endpoint ParseListen(const std::string& text,
                                           const std::string& option = "--listen");

std::string EndpointText(const boost::asio::ip::tcp::endpoint& endpoint);

// What "serve" runs with.
struct ServeSettings {
    ServeSettings();
    ~ServeSettings();
    ServeSettings(ServeSettings&&) noexcept;

    std::string url;
    boost::asio::ip::tcp::endpoint endpoint;
    std::optional<boost::asio::ip::tcp::endpoint> metricsEndpoint; // the endpoints of its own
    std::optional<std::string> today;
    std::chrono::seconds idleTimeout{60};
    int workers = 4;
    AuthOptions auth;
    std::unique_ptr<boost::asio::ssl::context> tls; // HTTPS when set
};

// The valued options of "serve": every option that may also come from the environment and the
// configuration file.
extern const std::set<std::string> kServeOptions;

// The settings of "serve" from its options, the TLS certificate and key read and checked.
ServeSettings ReadServeSettings(Options& o);
