// appserver: the application server of the supplier-parameters screen.
//   appserver init --db URL [--demo]
//   appserver serve --db URL [--listen HOST:PORT] [--metrics-listen HOST:PORT] [--today YYYY-MM-DD]
//   appserver backup --db sqlite:PATH --to FILE
//   appserver operator add|disable NAME --db URL; appserver operator list --db URL
#include "AccessLog.h"
#include "Backup.h"
#include "CommandLine.h"
#include "Config.h"
#include "Database.h"
#include "HttpServer.h"
#include "IdempotencyStore.h"
#include "Metrics.h"
#include "ModuleRegistry.h"
#include "Operators.h"
#include "OpsEndpoints.h"
#include "RdmParamForne.h"
#include "RpcError.h"
#include "RpcService.h"
#include "Schema.h"
#include "ServiceNotifier.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <map>
#include <pthread.h>
#include <set>
#include <thread>
#include <unistd.h>

#include <sys/resource.h>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

const char* kUsage =
    "uso: appserver init --db URL [--demo]\n"
    "     appserver serve --db URL [--listen HOST:PORTA] [--metrics-listen HOST:PORTA]\n"
    "                     [--today AAAA-MM-DD]\n"
    "     appserver backup --db sqlite:CAMINHO --to ARQUIVO\n"
    "     appserver operator add|disable NOME --db URL\n"
    "     appserver operator list --db URL\n"
    "     appserver COMANDO --help\n"
    "     appserver --version\n";

// What every command says about where its settings may come from.
#define KX_SETTINGS_HELP                                                                            \
    "  --config ARQUIVO        lê as opções também deste arquivo de linhas \"chave = valor\"\n" \
    "                          (chave = nome da opção sem \"--\"; o pacote instala\n"             \
    "                          /etc/kx/appserver.conf); também KX_APPSERVER_CONFIG\n"              \
    "  --help                  mostra esta ajuda\n"                                                 \
    "\n"                                                                                            \
    "Cada opção com valor também vem da variável de ambiente KX_APPSERVER_<OPÇÃO>\n"          \
    "(--idle-timeout é KX_APPSERVER_IDLE_TIMEOUT). A linha de comando prevalece sobre o\n"         \
    "ambiente, e o ambiente sobre o arquivo.\n"

const char* kInitHelp =
    "uso: appserver init --db URL [--demo]\n"
    "\n"
    "Cria as tabelas do banco de dados ou atualiza o esquema, versão a versão (pode ser\n"
    "repetido sem perda de dados). Um banco de uma versão mais nova do appserver é recusado.\n"
    "\n"
    "  --db URL                sqlite:CAMINHO ou postgresql://USUARIO@HOST:PORTA/BANCO\n"
    "  --demo                  carrega também os dados de demonstração (fornecedores, grupos\n"
    "                          de operadores, produtos); registros já existentes são "
    "mantidos\n" KX_SETTINGS_HELP;

const char* kServeHelp =
    "uso: appserver serve --db URL [--listen HOST:PORTA] [--metrics-listen HOST:PORTA]\n"
    "                     [--today AAAA-MM-DD] [--auth on|off] [--session-ttl SEGUNDOS]\n"
    "                     [--tls-cert ARQUIVO --tls-key ARQUIVO]\n"
    "\n"
    "Atende os módulos remotos por JSON-RPC 2.0 sobre HTTP/1.1 (POST /rpc/<módulo>)\n"
    "até receber SIGINT ou SIGTERM. Quando pronto, escreve \"listening on HOST:PORTA\".\n"
    "Cada chamada exige a sessão de um operador (POST /rpc/Sessao, método Login, e depois\n"
    "o cabeçalho \"Authorization: Bearer <token>\"); sem ela a resposta é HTTP 401.\n"
    "GET /healthz, GET /readyz (o banco de dados responde) e GET /metrics (formato texto\n"
    "do Prometheus) respondem sem sessão. Cada chamada gera uma linha chave=valor na\n"
    "saída de erros.\n"
    "\n"
    "  --db URL                sqlite:CAMINHO ou postgresql://USUARIO@HOST:PORTA/BANCO\n"
    "  --listen HOST:PORTA     endereço de escuta (padrão 127.0.0.1:4711; porta 0 escolhe\n"
    "                          uma porta livre; HOST vazio é a interface local)\n"
    "  --metrics-listen HOST:PORTA\n"
    "                          atende /healthz, /readyz e /metrics neste endereço em vez do\n"
    "                          endereço das chamadas\n"
    "  --today AAAA-MM-DD      fixa a data corrente do servidor (testes e demonstrações)\n"
    "  --idle-timeout SEGUNDOS fecha conexões ociosas após esse tempo (padrão 60)\n"
    "  --workers N             threads que executam as chamadas no banco (padrão 4)\n"
    "  --auth on|off           off dispensa a sessão e confia no cabeçalho X-Operator;\n"
    "                          só é aceito com --listen num endereço de loopback (padrão on)\n"
    "  --session-ttl SEGUNDOS  duração de uma sessão desde a entrada (padrão 28800, 8 horas)\n"
    "  --tls-cert ARQUIVO      certificado (PEM, com a cadeia) para atender em HTTPS\n"
    "  --tls-key ARQUIVO       chave privada (PEM) do certificado, sem senha e que outros\n"
    "                          usuários não possam ler\n" KX_SETTINGS_HELP;

const char* kOperatorHelp =
    "uso: appserver operator add NOME --db URL\n"
    "     appserver operator disable NOME --db URL\n"
    "     appserver operator list --db URL\n"
    "\n"
    "Cadastra os operadores que podem entrar no servidor de aplicação.\n"
    "  add      lê a senha da primeira linha da entrada padrão (ao menos 8 caracteres) e\n"
    "           cadastra o operador; um operador existente recebe a nova senha, volta a\n"
    "           ficar ativo e tem suas sessões encerradas\n"
    "  disable  desativa o operador e encerra suas sessões na hora\n"
    "  list     mostra os operadores, a situação e as sessões abertas\n"
    "\n"
    "  --db URL                sqlite:CAMINHO ou postgresql://USUARIO@HOST:PORTA/BANCO\n"
    "  NOME                    até 40 caracteres, o nome gravado na auditoria das "
    "alterações\n" KX_SETTINGS_HELP;

const char* kBackupHelp =
    "uso: appserver backup --db sqlite:CAMINHO --to ARQUIVO\n"
    "\n"
    "Grava uma cópia consistente do banco de dados SQLite, mesmo com o servidor atendendo\n"
    "(as gravações continuam durante a cópia). A cópia é verificada (integrity_check) e só\n"
    "aparece com o nome ARQUIVO quando completa; um ARQUIVO existente é substituído.\n"
    "Para PostgreSQL use pg_dump (veja docs/operations.md).\n"
    "\n"
    "  --db URL                sqlite:CAMINHO do banco de dados\n"
    "  --to ARQUIVO            arquivo da cópia\n" KX_SETTINGS_HELP;

int Init(int argc, char** argv) {
    Options o = ParseCommandLine(argc, argv, {"--db", "--config"}, {"--demo"});
    if (o.help) {
        std::cout << kInitHelp;
        return 0;
    }
    ApplySettings(o, {"--db"});
    const std::string url = RequireDb(o);
    const bool demo = o.flags.count("--demo") > 0;
    try {
        kxsql::InitDatabase(url, demo);
    } catch (const std::exception& e) {
        std::cerr << "appserver: falha ao preparar o banco de dados " << UrlForLog(url) << ": "
                  << e.what() << std::endl;
        return 1;
    }
    std::cout << "Banco de dados pronto: " << UrlForLog(url)
              << (demo ? " (com dados de demonstração)" : "") << std::endl;
    return 0;
}

// The server's own log lines and metrics: every call is counted and logged once it ends.
class CallTelemetry : public CallObserver {
public:
    CallTelemetry(Metrics& metrics, AccessLog& log) : metrics_(metrics), log_(log) {}
    void CallStarted() override { metrics_.CallStarted(); }
    void CallEnded(const CallRecord& record) override {
        metrics_.CallEnded(record);
        log_.Write(AccessLog::CallLine(record));
    }

private:
    Metrics& metrics_;
    AccessLog& log_;
};

bool Listen(std::optional<HttpServer>& server, asio::io_context& io, const tcp::endpoint& endpoint,
            HttpServer::Handler handler, const HttpServerOptions& options) {
    try {
        server.emplace(io, endpoint, std::move(handler), options);
        return true;
    } catch (const boost::system::system_error& e) {
        std::cerr << "appserver: não foi possível escutar em " << EndpointText(endpoint) << ": "
                  << e.code().message() << std::endl;
        return false;
    }
}

// What would make every call fail, or the service less safe than it looks, said once at start
// where the administrator reads the log; none of it stops the server.
void WarnOfRisks(Database& db, const tcp::endpoint& endpoint, bool tls, const AuthOptions& auth) {
    const auto warn = [](const std::string& text) {
        std::cerr << "appserver: aviso: " << text << std::endl;
    };
    if (::geteuid() == 0)
        warn("o servidor está rodando como root: rode-o com um usuário próprio, sem privilégios "
             "(o serviço do pacote usa o usuário kx).");
    if (!tls && !endpoint.address().is_loopback())
        warn("atendendo em HTTP sem criptografia em " + EndpointText(endpoint) +
             ": senhas e dados atravessam a rede legíveis por quem a escuta; configure "
             "tls-cert e tls-key.");
    try {
        const int stored =
            static_cast<int>(db.Run([](DbCall& call) -> nlohmann::json {
                                   return kxsql::StoredSchemaVersion(call.Sql(), call.Engine());
                               }).get<int>());
        if (stored < kxsql::kSchemaVersion)
            warn("o esquema do banco de dados está na versão " + std::to_string(stored) +
                 " e este servidor usa a versão " + std::to_string(kxsql::kSchemaVersion) +
                 ": execute \"appserver init\" para atualizá-lo.");
        else if (stored > kxsql::kSchemaVersion)
            warn("o esquema do banco de dados está na versão " + std::to_string(stored) +
                 ", de um servidor mais novo que este (versão " +
                 std::to_string(kxsql::kSchemaVersion) + ").");
        if (auth.required && !AnyActiveOperator(db))
            warn("nenhum operador ativo: toda chamada será recusada até que \"appserver operator "
                 "add NOME\" cadastre um.");
    } catch (const RpcError&) {
        // The database is down or lacks the tables: said already.
    }
}

// Each connection holds a descriptor: allow as many as the system lets this process have.
void RaiseDescriptorLimit() {
    if (rlimit files{}; getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

// What the database lacks is said at start; a database that answers but takes no writes would
// accept the clerks' work and fail every save: false then, and the server does not start.
bool DatabaseServable(Database& db, const std::string& url, const AuthOptions& auth) {
    try {
        db.Probe();
        // A database from before keyed saves: every save would fail until init adds the table.
        if (!IdempotencyTableExists(db))
            std::cerr << "appserver: aviso: a tabela CHAVEIDEMPOT não existe; as gravações terão "
                         "erro até que \"appserver init --db "
                      << UrlForLog(url) << "\" a crie." << std::endl;
        // A database from before sessions: nobody can sign in until init adds the tables.
        if (auth.required && !OperatorTablesExist(db))
            std::cerr << "appserver: aviso: as tabelas OPERADOR e SESSAOOPER não existem; nenhum "
                         "operador entra até que \"appserver init --db "
                      << UrlForLog(url)
                      << "\" as crie e \"appserver operator add\" cadastre os operadores."
                      << std::endl;
    } catch (const RpcError& e) {
        std::cerr << "appserver: aviso: " << e.what()
                  << " As chamadas terão erro até que o banco de dados volte." << std::endl;
    }
    std::string unwritable;
    try {
        unwritable = db.WriteProblem();
    } catch (const RpcError&) {
        // unreachable or without its schema: said above, and served once that is mended
    }
    if (unwritable.empty()) return true;
    std::cerr << "appserver: o banco de dados " << UrlForLog(url)
              << " não aceita gravações: " << unwritable
              << ". O servidor não foi iniciado; corrija o banco de dados e inicie de novo."
              << std::endl;
    return false;
}

void AddGauges(Metrics& metrics, const HttpServer& server, Database& db, const RpcService& service,
               const AccessLog& log) {
    metrics.AddGauge("kx_http_connections_open", "Conexões HTTP abertas no endereço das chamadas.",
                     [&server] { return static_cast<double>(server.ConnectionCount()); });
    metrics.AddGauge("kx_database_sessions_open", "Sessões abertas com o banco de dados.",
                     [&db] { return static_cast<double>(db.OpenSessions()); });
    metrics.AddGauge("kx_operator_sessions_open",
                     "Sessões de operadores abertas (contadas na última entrada ou saída).",
                     [&service] { return static_cast<double>(service.OpenSessions()); });
    metrics.AddGauge(
        "kx_database_retries_total",
        "Comandos executados de novo numa sessão nova porque a conexão com o banco caiu.",
        [&db] { return static_cast<double>(db.Retries()); }, true);
    metrics.AddGauge(
        "kx_commits_unconfirmed_total",
        "Gravações cujo COMMIT perdeu a conexão e foram conferidas pela chave de idempotência.",
        [&db] { return static_cast<double>(db.UnconfirmedCommits()); }, true);
    metrics.AddGauge(
        "kx_log_lines_dropped_total",
        "Linhas de registro descartadas porque a saída de erros não acompanhou as chamadas.",
        [&log] { return static_cast<double>(log.Dropped()); }, true);
}

// One network thread per core, at least two, so that a call running on one leaves the
// connections of the other served.
int NetworkThreads() {
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 2u, 16u));
}

// Runs the io_context until it runs out of work (the servers stopped and the calls answered);
// an exception that escapes a handler is logged and the loop goes on.
void RunLoop(asio::io_context& io, AccessLog& log) {
    for (;;) {
        try {
            io.run();
            return;
        } catch (const std::exception& e) {
            log.Write(AccessLog::EventLine("error", std::string("erro inesperado: ") + e.what()));
        }
    }
}

// From the end of the loop on, a repeated SIGTERM must not turn the clean exit into a kill: the
// handler of the signal set goes away with it, so the signals are blocked (only this thread is
// left).
void BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

// The server's parts put together: the calls' service and the administrator's endpoints behind
// one or two HTTP servers, their connections on the network threads, until SIGINT or SIGTERM.
int Run(const ServeSettings& settings, Database& db) {
    ModuleRegistry modules;
    modules.Add(std::make_unique<RdmParamForne>());
    AccessLog log(STDERR_FILENO);
    Metrics metrics(modules, {{RpcService::kSessionModule, RpcService::SessionMethods()}});
    CallTelemetry telemetry(metrics, log);

    // The acceptors, signals and the answers of the workers' calls on this thread's context; the
    // connections on the network threads' contexts, each run by one thread.
    asio::io_context io(1);
    std::vector<std::unique_ptr<asio::io_context>> network;
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> keepRunning;
    for (int i = 0; i < NetworkThreads(); ++i) {
        network.push_back(std::make_unique<asio::io_context>(1));
        keepRunning.push_back(asio::make_work_guard(*network.back()));
    }
    RpcService service(modules, db, settings.today, io, settings.workers);
    service.SetInlineCalls(static_cast<int>(network.size()));
    service.SetObserver(&telemetry);
    service.SetAuth(settings.auth);
    service.RecountSessions();
    OpsEndpoints ops(metrics, db, io);
    ops.SetReadinessLog([&log](bool ready, const std::string& why) {
        log.Write(ready ? AccessLog::EventLine("ready", "banco de dados disponível de novo")
                        : AccessLog::EventLine("notready", why));
    });
    HttpServerOptions httpOptions;
    httpOptions.idleTimeout = settings.idleTimeout;
    httpOptions.tls = settings.tls.get();
    httpOptions.errorBody = RpcService::HttpErrorBody;
    for (const auto& context : network)
        httpOptions.connectionContexts.push_back(context.get());
    // The administrator's endpoints answer on the calls' address unless moved to their own.
    const bool opsOnRpcAddress = !settings.metricsEndpoint;
    std::optional<HttpServer> server, opsServer;
    if (!Listen(
            server, io, settings.endpoint,
            [&](HttpRequestInfo req, std::function<void(HttpReply)> done) {
                if (opsOnRpcAddress && OpsEndpoints::Serves(req.target))
                    return ops.Handle(req, std::move(done));
                service.Handle(std::move(req), std::move(done));
            },
            httpOptions))
        return 1;
    if (settings.metricsEndpoint &&
        !Listen(
            opsServer, io, *settings.metricsEndpoint,
            [&](const HttpRequestInfo& req, std::function<void(HttpReply)> done) {
                if (OpsEndpoints::Serves(req.target)) return ops.Handle(req, std::move(done));
                done({404,
                      RpcService::ErrorBody(nullptr, kRpcMethodNotFound,
                                            "Recurso não encontrado: " +
                                                req.target.substr(0, req.target.find('?')) + "."),
                      ""});
            },
            httpOptions))
        return 1;
    AddGauges(metrics, *server, db, service, log);

    ServiceNotifier notifier(io);
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& ec, int) {
        if (ec) return;
        log.Write(
            AccessLog::EventLine("stop", "encerrando (as chamadas em andamento são concluídas)"));
        notifier.Stopping();
        server->Stop();
        if (opsServer) opsServer->Stop();
    });
    server->Start();
    if (opsServer) opsServer->Start();
    const std::string address = EndpointText(server->LocalEndpoint());
    std::cout << "listening on " << address << std::endl;
    std::string started = "banco de dados " + UrlForLog(settings.url) + ", " +
                          std::to_string(settings.workers) +
                          " threads para as chamadas, chamadas em " + address;
    if (opsServer) started += ", métricas e saúde em " + EndpointText(opsServer->LocalEndpoint());
    if (settings.tls) started += ", HTTPS";
    if (!settings.auth.required) started += ", sem autenticação (X-Operator aceito)";
    log.Write(AccessLog::EventLine("start", started));
    notifier.Ready("atendendo em " + address);
    std::vector<std::thread> threads;
    threads.reserve(network.size());
    for (const auto& context : network)
        threads.emplace_back([&log, &context] { RunLoop(*context, log); });
    RunLoop(io, log);
    // Stopped, and the workers' answers handed over: the connections still open end on their own.
    keepRunning.clear();
    for (std::thread& t : threads)
        t.join();
    service.Join();
    ops.Join();
    BlockStopSignals();
    return 0;
}

int Serve(int argc, char** argv) {
    std::set<std::string> accepted = kServeOptions;
    accepted.insert("--config");
    Options o = ParseCommandLine(argc, argv, accepted, {});
    if (o.help) {
        std::cout << kServeHelp;
        return 0;
    }
    ApplySettings(o, kServeOptions);
    const ServeSettings settings = ReadServeSettings(o);
    RaiseDescriptorLimit();
    Database db(settings.url);
    if (!DatabaseServable(db, settings.url, settings.auth)) return 1;
    WarnOfRisks(db, settings.endpoint, settings.tls != nullptr, settings.auth);
    return Run(settings, db);
}

int Backup(int argc, char** argv) {
    Options o = ParseCommandLine(argc, argv, {"--db", "--to", "--config"}, {});
    if (o.help) {
        std::cout << kBackupHelp;
        return 0;
    }
    ApplySettings(o, {"--db"});
    const std::string url = RequireDb(o);
    if (!o.values.count("--to")) throw UsageError("a opção --to é obrigatória.");
    const std::string to = o.values["--to"];
    if (kxsql::EngineOfUrl(url) != kxsql::Engine::SQLite)
        throw UsageError("appserver backup copia bancos SQLite; para PostgreSQL use pg_dump, por "
                         "exemplo: pg_dump --format=custom --file=" +
                         to + " '" + UrlForLog(url) + "' (veja docs/operations.md).");
    const std::string path = url.substr(std::string("sqlite:").size());
    int shown = -1;
    try {
        const BackupResult r = BackupSqlite(path, to, [&](int copied, int total) {
            // A line per tenth of a large copy, so a long copy shows it is moving.
            const int tenth = total > 0 ? copied * 10 / total : 10;
            if (total < 10 * 1024 || tenth == shown) return;
            shown = tenth;
            std::cerr << "appserver: copiando " << copied << " de " << total << " páginas ("
                      << tenth * 10 << "%)" << std::endl;
        });
        std::cout << "Cópia de " << url << " gravada em " << to << ": " << r.pages << " páginas, "
                  << r.bytes << " bytes, integridade verificada." << std::endl;
    } catch (const BackupError& e) {
        std::cerr << "appserver: falha na cópia de segurança: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}

std::string DateTimeText(long long seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

int Operator(int argc, char** argv) {
    const std::string sub = argc > 2 ? argv[2] : "";
    if (sub == "--help" || sub == "-h") {
        std::cout << kOperatorHelp;
        return 0;
    }
    if (sub != "add" && sub != "disable" && sub != "list")
        throw UsageError(sub.empty() ? "informe o subcomando: operator add, disable ou list."
                                     : "subcomando desconhecido: operator " + sub);
    std::string name;
    int first = 3;
    if (sub != "list") {
        if (argc <= 3 || std::string(argv[3]).rfind("--", 0) == 0) {
            if (argc > 3 && (std::string(argv[3]) == "--help")) {
                std::cout << kOperatorHelp;
                return 0;
            }
            throw UsageError("informe o nome do operador: appserver operator " + sub + " NOME.");
        }
        name = argv[3];
        first = 4;
        if (const std::string p = OperatorNameProblem(name); !p.empty()) throw UsageError(p);
    }
    Options o = ParseCommandLine(argc, argv, {"--db", "--config"}, {}, first);
    if (o.help) {
        std::cout << kOperatorHelp;
        return 0;
    }
    ApplySettings(o, {"--db"});
    const std::string url = RequireDb(o);
    std::string password;
    if (sub == "add") {
        if (!std::getline(std::cin, password)) {
            std::cerr << "appserver: informe a senha na primeira linha da entrada padrão."
                      << std::endl;
            return 2;
        }
        if (!password.empty() && password.back() == '\r') password.pop_back();
        if (const std::string p = PasswordProblem(password); !p.empty()) {
            std::cerr << "appserver: " << p << std::endl;
            return 2;
        }
    }
    try {
        Database db(url);
        if (sub == "add") {
            const bool added = AddOperator(db, name, password);
            std::cout << (added ? "Operador " + name + " cadastrado."
                                : "Operador " + name +
                                      ": senha trocada, operador ativo, sessões anteriores "
                                      "encerradas.")
                      << std::endl;
        } else if (sub == "disable") {
            if (!DisableOperator(db, name)) {
                std::cerr << "appserver: operador " << name << " não cadastrado." << std::endl;
                return 1;
            }
            std::cout << "Operador " << name << " desativado; suas sessões foram encerradas."
                      << std::endl;
        } else {
            const auto all = ListOperators(db);
            if (all.empty()) std::cout << "Nenhum operador cadastrado." << std::endl;
            for (const OperatorInfo& op : all)
                std::cout << op.name << "\t" << (op.active ? "ativo" : "desativado")
                          << "\tcadastrado em " << DateTimeText(op.created) << "\t" << op.sessions
                          << (op.sessions == 1 ? " sessão aberta" : " sessões abertas")
                          << std::endl;
        }
    } catch (const RpcError& e) {
        std::cerr << "appserver: falha no banco de dados " << UrlForLog(url) << ": " << e.what()
                  << (e.Detail().empty() ? "" : " [" + e.Detail() + "]")
                  << " Execute \"appserver init\" se o banco ainda não tem a tabela OPERADOR."
                  << std::endl;
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "appserver: " << e.what() << std::endl;
        return 1;
    }
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
        if (command == "--version") {
            std::cout << "appserver " << KX_VERSION << std::endl;
            return 0;
        }
        if (command == "init") return Init(argc, argv);
        if (command == "serve") return Serve(argc, argv);
        if (command == "backup") return Backup(argc, argv);
        if (command == "operator") return Operator(argc, argv);
        throw UsageError(command.empty() ? "informe o comando: init, serve, backup ou operator."
                                         : "comando desconhecido: " + command);
    } catch (const UsageError& e) {
        std::cerr << "appserver: " << e.what() << "\n" << kUsage;
        return 2;
    }
}
