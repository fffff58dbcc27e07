// appserver: the application server of the supplier-parameters screen.
//   appserver init --db URL [--demo]
//   appserver serve --db URL [--listen HOST:PORT] [--today YYYY-MM-DD]
#include "Database.h"
#include "HttpServer.h"
#include "ModuleRegistry.h"
#include "ParamRecord.h"
#include "RdmParamForne.h"
#include "RpcError.h"
#include "RpcService.h"
#include "Schema.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <soci/soci.h>

#include <csignal>
#include <iostream>
#include <map>
#include <pthread.h>
#include <set>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

const char* kUsage = "uso: appserver init --db URL [--demo]\n"
                     "     appserver serve --db URL [--listen HOST:PORTA] [--today AAAA-MM-DD]\n"
                     "     appserver COMANDO --help\n";

const char* kInitHelp =
    "uso: appserver init --db URL [--demo]\n"
    "\n"
    "Cria as tabelas do banco de dados (pode ser repetido sem perda de dados).\n"
    "\n"
    "  --db URL    sqlite:CAMINHO ou postgresql://USUARIO@HOST:PORTA/BANCO\n"
    "  --demo      carrega também os dados de demonstração (fornecedores, grupos de\n"
    "              operadores, produtos); registros já existentes são mantidos\n"
    "  --help      mostra esta ajuda\n";

const char* kServeHelp =
    "uso: appserver serve --db URL [--listen HOST:PORTA] [--today AAAA-MM-DD]\n"
    "\n"
    "Atende os módulos remotos por JSON-RPC 2.0 sobre HTTP/1.1 (POST /rpc/<módulo>)\n"
    "até receber SIGINT ou SIGTERM. Quando pronto, escreve \"listening on HOST:PORTA\".\n"
    "\n"
    "  --db URL                sqlite:CAMINHO ou postgresql://USUARIO@HOST:PORTA/BANCO\n"
    "  --listen HOST:PORTA     endereço de escuta (padrão 127.0.0.1:4711; porta 0 escolhe\n"
    "                          uma porta livre; HOST vazio é a interface local)\n"
    "  --today AAAA-MM-DD      fixa a data corrente do servidor (testes e demonstrações)\n"
    "  --idle-timeout SEGUNDOS fecha conexões ociosas após esse tempo (padrão 60)\n"
    "  --workers N             threads que executam as chamadas no banco (padrão 4)\n"
    "  --help                  mostra esta ajuda\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    bool help = false;
};

// --name VALUE or --name=VALUE; valued and flag options as the command allows.
Options Parse(int argc, char** argv, const std::set<std::string>& valued,
              const std::set<std::string>& flags) {
    Options o;
    for (int i = 2; i < argc; ++i) {
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
        throw UsageError(e.what());
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

tcp::endpoint ParseListen(const std::string& text) {
    const std::string hint = "endereço de escuta inválido: \"" + text + "\" (use HOST:PORTA).";
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) throw UsageError(hint);
    std::string host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty()) host = "127.0.0.1";
    const int p = ParseInt("--listen", port, 0, 65535);
    boost::system::error_code ec;
    auto address = asio::ip::make_address(host, ec);
    if (!ec) return {address, static_cast<unsigned short>(p)};
    asio::io_context io;
    tcp::resolver resolver(io);
    auto results = resolver.resolve(host, port, ec);
    if (ec || results.empty())
        throw UsageError("não foi possível resolver o host \"" + host + "\" de --listen.");
    return results.begin()->endpoint();
}

std::string EndpointText(const tcp::endpoint& ep) {
    const std::string host = ep.address().to_string();
    return (ep.address().is_v6() ? "[" + host + "]" : host) + ":" + std::to_string(ep.port());
}

int Init(int argc, char** argv) {
    Options o = Parse(argc, argv, {"--db"}, {"--demo"});
    if (o.help) {
        std::cout << kInitHelp;
        return 0;
    }
    const std::string url = RequireDb(o);
    const bool demo = o.flags.count("--demo") > 0;
    try {
        soci::session sql;
        kxsql::OpenSession(sql, url);
        const kxsql::Engine engine = kxsql::EngineOfUrl(url);
        soci::transaction tx(sql);
        for (const std::string& s : kxsql::SchemaStatements(engine))
            sql << s;
        if (demo)
            for (const std::string& s : kxsql::DemoStatements(engine))
                sql << s;
        tx.commit();
    } catch (const std::exception& e) {
        std::cerr << "appserver: falha ao preparar o banco de dados " << url << ": " << e.what()
                  << std::endl;
        return 1;
    }
    std::cout << "Banco de dados pronto: " << url << (demo ? " (com dados de demonstração)" : "")
              << std::endl;
    return 0;
}

int Serve(int argc, char** argv) {
    Options o =
        Parse(argc, argv, {"--db", "--listen", "--today", "--idle-timeout", "--workers"}, {});
    if (o.help) {
        std::cout << kServeHelp;
        return 0;
    }
    const std::string url = RequireDb(o);
    const tcp::endpoint endpoint =
        ParseListen(o.values.count("--listen") ? o.values["--listen"] : "127.0.0.1:4711");
    std::optional<std::string> today;
    if (o.values.count("--today")) {
        today = o.values["--today"];
        if (today->size() != 10 || !ParseIsoDateTime(*today))
            throw UsageError("data inválida em --today: \"" + *today + "\" (use AAAA-MM-DD).");
    }
    HttpServerOptions httpOptions;
    if (o.values.count("--idle-timeout"))
        httpOptions.idleTimeout =
            std::chrono::seconds(ParseInt("--idle-timeout", o.values["--idle-timeout"], 1, 86400));
    const int workers =
        o.values.count("--workers") ? ParseInt("--workers", o.values["--workers"], 1, 64) : 4;

    Database db(url);
    try {
        db.Probe();
    } catch (const RpcError& e) {
        std::cerr << "appserver: aviso: " << e.what()
                  << " As chamadas terão erro até que o banco de dados volte." << std::endl;
    }

    ModuleRegistry modules;
    modules.Add(std::make_unique<RdmParamForne>());

    asio::io_context io(1);
    RpcService service(modules, db, today, io, workers);
    std::optional<HttpServer> server;
    try {
        server.emplace(
            io, endpoint,
            [&service](HttpRequestInfo req, std::function<void(HttpReply)> done) {
                service.Handle(std::move(req), std::move(done));
            },
            httpOptions);
    } catch (const boost::system::system_error& e) {
        std::cerr << "appserver: não foi possível escutar em " << EndpointText(endpoint) << ": "
                  << e.code().message() << std::endl;
        return 1;
    }
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& ec, int) {
        if (ec) return;
        std::cerr << "appserver: encerrando (as chamadas em andamento são concluídas)" << std::endl;
        server->Stop();
    });
    server->Start();
    std::cout << "listening on " << EndpointText(server->LocalEndpoint()) << std::endl;
    std::cerr << "appserver: banco de dados " << url << ", " << workers
              << " threads para as chamadas" << std::endl;
    for (;;) {
        try {
            io.run();
            break;
        } catch (const std::exception& e) {
            std::cerr << "appserver: erro inesperado: " << e.what() << std::endl;
        }
    }
    service.Join();
    // From here on, a repeated SIGTERM must not turn the clean exit into a kill: the handler of
    // the signal set goes away with it, so the signals are blocked (only this thread is left).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "--help" || command == "-h" || command == "help") {
            std::cout << kUsage;
            return 0;
        }
        if (command == "init") return Init(argc, argv);
        if (command == "serve") return Serve(argc, argv);
        throw UsageError(command.empty() ? "informe o comando: init ou serve."
                                         : "comando desconhecido: " + command);
    } catch (const UsageError& e) {
        std::cerr << "appserver: " << e.what() << "\n" << kUsage;
        return 2;
    }
}
