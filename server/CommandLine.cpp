#include "CommandLine.h"

#include "Config.h"
#include "ParamRecord.h"
#include "Schema.h"
#include "TlsContext.h"

extern char** environ;

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// The options that may also come from the environment and the configuration file.
const std::set<std::string> kSettingKeys = {
    "db",      "listen", "metrics-listen", "today",    "idle-timeout",
    "workers", "auth",   "session-ttl",    "tls-cert", "tls-key"};

} // namespace

std::string Where(const Options& o, const std::string& option) {
    const auto it = o.origins.find(option);
    return it == o.origins.end() ? option : option + " (" + it->second + ")";
}

void ApplySettings(Options& o, const std::set<std::string>& valued) {
    try {
        const auto env = ReadConfigEnvironment(environ, kSettingKeys, {"KX_APPSERVER_CONFIG"});
        std::string configPath;
        if (o.values.count("--config")) {
            configPath = o.values["--config"];
        } else if (const char* c = std::getenv("KX_APPSERVER_CONFIG"); c && *c) {
            configPath = c;
        }
        std::map<std::string, ConfigValue> file;
        // Checked even when every value comes from elsewhere: a broken file fails at once.
        if (!configPath.empty()) file = ReadConfigFile(configPath, kSettingKeys);
        const std::map<std::string, ConfigValue>* layers[] = {&env, &file};
        for (const auto* layer : layers)
            for (const auto& [key, v] : *layer) {
                const std::string option = "--" + key;
                if (!valued.count(option) || o.values.count(option)) continue;
                o.values[option] = v.value;
                o.origins[option] = v.origin;
            }
    } catch (const ConfigError& e) {
        throw UsageError(e.what());
    }
}

Options ParseCommandLine(int argc, char** argv, const std::set<std::string>& valued,
                         const std::set<std::string>& flags, int first) {
    Options o;
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) throw UsageError("argumento inesperado: " + arg);
        std::string name = arg, value;
        bool inlineValue = false;
        if (auto eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        if (flags.count(name)) {
            if (inlineValue) throw UsageError("a opção " + name + " não aceita valor.");
            o.flags.insert(name);
        } else if (valued.count(name)) {
            if (!inlineValue) {
                if (i + 1 >= argc) throw UsageError("a opção " + name + " exige um valor.");
                value = argv[++i];
            }
            if (o.values.count(name))
                throw UsageError("a opção " + name + " foi informada mais de uma vez.");
            o.values[name] = value;
        } else {
            throw UsageError("opção desconhecida: " + name);
        }
    }
    return o;
}

std::string RequireDb(const Options& o) {
    auto it = o.values.find("--db");
    if (it == o.values.end()) throw UsageError("a opção --db é obrigatória.");
    try {
        kxsql::EngineOfUrl(it->second);
    } catch (const std::invalid_argument& e) {
        throw UsageError(Where(o, "--db") + ": " + e.what());
    }
    if (it->second == "sqlite:")
        throw UsageError("informe o caminho do arquivo em --db sqlite:CAMINHO.");
    return it->second;
}

int ParseInt(const std::string& option, const std::string& text, int min, int max) {
    size_t used = 0;
    long v = 0;
    try {
        v = std::stol(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || v < min || v > max)
        throw UsageError("valor inválido em " + option + ": \"" + text + "\" (use um número de " +
                         std::to_string(min) + " a " + std::to_string(max) + ").");
    return static_cast<int>(v);
}

tcp::endpoint ParseListen(const std::string& text, const std::string& option) {
    const std::string hint =
        "endereço de escuta inválido em " + option + ": \"" + text + "\" (use HOST:PORTA).";
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) throw UsageError(hint);
    std::string host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty()) host = "127.0.0.1";
    const int p = ParseInt(option, port, 0, 65535);
    boost::system::error_code ec;
    auto address = asio::ip::make_address(host, ec);
    if (!ec) return {address, static_cast<unsigned short>(p)};
    asio::io_context io;
    tcp::resolver resolver(io);
    auto results = resolver.resolve(host, port, ec);
    if (ec || results.empty())
        throw UsageError("não foi possível resolver o host \"" + host + "\" de " + option + ".");
    return results.begin()->endpoint();
}

std::string EndpointText(const tcp::endpoint& ep) {
    const std::string host = ep.address().to_string();
    return (ep.address().is_v6() ? "[" + host + "]" : host) + ":" + std::to_string(ep.port());
}

ServeSettings::ServeSettings() = default;
ServeSettings::~ServeSettings() = default;
ServeSettings::ServeSettings(ServeSettings&&) noexcept = default;

const std::set<std::string> kServeOptions = [] {
    std::set<std::string> options;
    for (const std::string& key : kSettingKeys)
        options.insert("--" + key);
    return options;
}();

ServeSettings ReadServeSettings(Options& o) {
    ServeSettings s;
    s.url = RequireDb(o);
    s.endpoint = ParseListen(o.values.count("--listen") ? o.values["--listen"] : "127.0.0.1:4711",
                             Where(o, "--listen"));
    if (o.values.count("--metrics-listen"))
        s.metricsEndpoint = ParseListen(o.values["--metrics-listen"], Where(o, "--metrics-listen"));
    if (o.values.count("--today")) {
        s.today = o.values["--today"];
        if (s.today->size() != 10 || !ParseIsoDateTime(*s.today))
            throw UsageError("data inválida em " + Where(o, "--today") + ": \"" + *s.today +
                             "\" (use AAAA-MM-DD).");
    }
    if (o.values.count("--idle-timeout"))
        s.idleTimeout = std::chrono::seconds(
            ParseInt(Where(o, "--idle-timeout"), o.values["--idle-timeout"], 1, 86400));
    if (o.values.count("--workers"))
        s.workers = ParseInt(Where(o, "--workers"), o.values["--workers"], 1, 64);
    if (o.values.count("--auth")) {
        const std::string& a = o.values["--auth"];
        if (a != "on" && a != "off")
            throw UsageError("valor inválido em " + Where(o, "--auth") + ": \"" + a +
                             "\" (use on ou off).");
        s.auth.required = a == "on";
    }
    // Without sessions anyone who reaches the port writes as whoever X-Operator names: only
    // this machine may reach it then.
    if (!s.auth.required && !s.endpoint.address().is_loopback())
        throw UsageError("--auth off só é aceito com --listen num endereço de loopback "
                         "(127.0.0.1 ou [::1]); recebido " +
                         EndpointText(s.endpoint) + ".");
    // HTTPS: both files or neither.
    if (o.values.count("--tls-cert") != o.values.count("--tls-key"))
        throw UsageError("informe --tls-cert e --tls-key juntos (certificado e chave privada).");
    if (o.values.count("--tls-cert")) {
        try {
            s.tls = MakeServerTlsContext(o.values["--tls-cert"], o.values["--tls-key"],
                                         Where(o, "--tls-cert"), Where(o, "--tls-key"));
        } catch (const TlsSetupError& e) {
            throw UsageError(e.what());
        }
    }
    if (o.values.count("--session-ttl"))
        s.auth.sessionSeconds =
            ParseInt(Where(o, "--session-ttl"), o.values["--session-ttl"], 1, 7 * 24 * 3600);
    return s;
}
