#include "ServerHarness.h"

#include "Schema.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

std::string AppserverPath() {
    return std::string(KX_BIN_DIR) + "/appserver";
}

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts appserver; stdout and stderr go to the given descriptors.
int Spawn(const std::vector<std::string>& args, int outFd, int errFd, const Environment& env,
          FileLimits limits = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); // a test that crashes leaves no server behind
        if (limits.soft || limits.hard) {
            rlimit files{};
            getrlimit(RLIMIT_NOFILE, &files);
            if (limits.hard) files.rlim_max = limits.hard;
            if (limits.soft) files.rlim_cur = limits.soft;
            setrlimit(RLIMIT_NOFILE, &files);
        }
        dup2(outFd, 1);
        dup2(errFd, 2);
        for (const std::string& e : env)
            putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        std::string path = AppserverPath();
        argv.push_back(path.data());
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

json CellValue(const soci::row& row, size_t i) {
    if (row.get_indicator(i) == soci::i_null) return nullptr;
    switch (row.get_properties(i).get_data_type()) {
    case soci::dt_string:
        return row.get<std::string>(i);
    case soci::dt_double:
        return row.get<double>(i);
    case soci::dt_integer:
        return row.get<int>(i);
    case soci::dt_long_long:
        return row.get<long long>(i);
    case soci::dt_unsigned_long_long:
        return row.get<unsigned long long>(i);
    case soci::dt_date: {
        std::tm tm = row.get<std::tm>(i);
        char buf[32];
        std::strftime(buf, sizeof buf,
                      tm.tm_hour || tm.tm_min || tm.tm_sec ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%d", &tm);
        return buf;
    }
    default:
        return "?";
    }
}

std::vector<std::map<std::string, json>> Rows(soci::session& sql, const std::string& query,
                                              const std::string& key) {
    std::vector<std::map<std::string, json>> out;
    soci::rowset<soci::row> rows = (sql.prepare << query, soci::use(key));
    for (const soci::row& r : rows) {
        std::map<std::string, json> m;
        for (size_t i = 0; i < r.size(); ++i)
            m[Upper(r.get_properties(i).get_name())] = CellValue(r, i);
        out.push_back(std::move(m));
    }
    return out;
}

std::atomic<int> databaseCounter{0};

} // namespace

RunResult RunAppserver(const std::vector<std::string>& args, const Environment& env) {
    TempDir dir;
    const std::string outPath = dir.Path() + "/out", errPath = dir.Path() + "/err";
    const int out = open(outPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    const int err = open(errPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    const int pid = Spawn(args, out, err, env);
    close(out);
    close(err);
    int status = 0;
    waitpid(pid, &status, 0);
    return {ExitCode(status), ReadFile(outPath), ReadFile(errPath)};
}

TempDir::TempDir() {
    char pattern[] = "/tmp/kx-server-test-XXXXXX";
    path_ = mkdtemp(pattern);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

TestDatabase::TestDatabase(const std::string& kind) : kind_(kind) {
    if (IsSqlite()) {
        url_ = "sqlite:" + SqlitePath();
    } else {
        const char* admin = std::getenv("KX_TEST_PG");
        if (!admin) throw std::runtime_error("KX_TEST_PG não definido");
        name_ = "kxs_" + std::to_string(getpid()) + "_" + std::to_string(++databaseCounter);
        Admin() << "DROP DATABASE IF EXISTS " + name_;
        Admin() << "CREATE DATABASE " + name_;
        std::string base = admin;
        const auto query = base.find('?');
        const std::string tail = query == std::string::npos ? "" : base.substr(query);
        base = base.substr(0, query);
        const auto slash = base.find('/', base.find("://") + 3);
        url_ = (slash == std::string::npos ? base : base.substr(0, slash)) + "/" + name_ + tail;
    }
    const RunResult init = RunAppserver({"init", "--db", url_, "--demo"});
    if (init.exitCode != 0) throw std::runtime_error("appserver init falhou: " + init.err);
}

TestDatabase::~TestDatabase() {
    sql_.reset();
    if (!IsSqlite()) {
        try {
            Admin() << "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)";
        } catch (const std::exception&) {
        }
    }
}

soci::session& TestDatabase::Sql() {
    if (!sql_) {
        sql_ = std::make_unique<soci::session>();
        kxsql::OpenSession(*sql_, url_);
    }
    return *sql_;
}

soci::session& TestDatabase::Admin() {
    if (!admin_) {
        admin_ = std::make_unique<soci::session>();
        kxsql::OpenSession(*admin_, std::getenv("KX_TEST_PG"));
    }
    return *admin_;
}

std::string TestDatabase::Dump(const std::string& query) {
    std::string out;
    soci::rowset<soci::row> rows = Sql().prepare << query;
    for (const soci::row& r : rows) {
        for (size_t i = 0; i < r.size(); ++i)
            out += CellValue(r, i).dump() + "|";
        out += "\n";
    }
    return out;
}

std::optional<std::map<std::string, json>> TestDatabase::ParamRow(const std::string& code) {
    auto rows = Rows(Sql(), "SELECT * FROM PARAMFORNE WHERE CDFORNECED = :c", code);
    if (rows.empty()) return std::nullopt;
    return rows[0];
}

std::vector<std::map<std::string, json>> TestDatabase::LogRows(const std::string& code) {
    return Rows(Sql(), "SELECT * FROM PARAMFORNELOG WHERE CDFORNECED = :c ORDER BY IDPARAMFORNELOG",
                code);
}

ServerProcess::ServerProcess(const std::string& dbUrl, const std::vector<std::string>& extra,
                             const std::string& listen, const Environment& env,
                             FileLimits limits) {
    std::vector<std::string> args = {"serve", "--listen", listen};
    if (!dbUrl.empty()) args.insert(args.end(), {"--db", dbUrl}); // else from the settings
    args.insert(args.end(), extra.begin(), extra.end());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const std::string logPath = logDir_.Path() + "/stderr";
    const int err = open(logPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = Spawn(args, fds[1], err, env, limits);
    close(fds[1]);
    close(err);
    // The first stdout line tells the port; nothing else is read from it.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char buf[256];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            line.append(buf, static_cast<size_t>(n));
        }
    }
    close(fds[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0 || line.back() != '\n')
        throw std::runtime_error("appserver não iniciou: \"" + line + "\"\n" + Log());
    port_ = std::stoi(line.substr(prefix.size()));
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0 && Running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ServerProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int ServerProcess::Stop(int timeoutMs) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return ExitCode(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return -1;
}

std::string ServerProcess::Log() const {
    return ReadFile(logDir_.Path() + "/stderr");
}

struct HttpClient::Impl {
    asio::io_context io;
    std::optional<beast::tcp_stream> stream;
    beast::flat_buffer buffer;
};

HttpClient::HttpClient(int port) : impl_(std::make_unique<Impl>()), port_(port) {}
HttpClient::~HttpClient() = default;

HttpResult HttpClient::Send(const std::string& verb, const std::string& target,
                            const std::string& body,
                            const std::map<std::string, std::string>& headers) {
    for (int attempt = 0;; ++attempt) {
        const bool reused = impl_->stream.has_value();
        try {
            if (!impl_->stream) {
                impl_->stream.emplace(impl_->io);
                impl_->stream->expires_after(std::chrono::seconds(30));
                impl_->stream->connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"),
                                                     static_cast<unsigned short>(port_)));
                impl_->stream->socket().set_option(tcp::no_delay(true));
                impl_->buffer.clear();
                ++connects_;
            }
            http::request<http::string_body> req;
            req.method_string(verb);
            req.target(target);
            req.version(11);
            req.set(http::field::host, "127.0.0.1");
            req.set(http::field::content_type, "application/json");
            for (const auto& [k, v] : headers)
                req.set(k, v);
            req.body() = body;
            req.keep_alive(true);
            req.prepare_payload();
            impl_->stream->expires_after(std::chrono::seconds(30));
            http::write(*impl_->stream, req);
            http::response_parser<http::string_body> parser;
            parser.body_limit(64 << 20);
            http::read(*impl_->stream, impl_->buffer, parser);
            auto res = parser.release();
            HttpResult out;
            out.status = static_cast<int>(res.result_int());
            out.body = res.body();
            for (const auto& f : res)
                out.headers[std::string(f.name_string())] = std::string(f.value());
            if (!res.keep_alive()) impl_->stream.reset();
            return out;
        } catch (const boost::system::system_error&) {
            impl_->stream.reset();
            if (reused && attempt == 0) continue; // the server closed the idle connection
            throw;
        }
    }
}

json HttpClient::Call(const std::string& method, const json& params,
                      const std::optional<std::string>& operatorName) {
    static std::atomic<int> id{0};
    const json call = {{"jsonrpc", "2.0"}, {"id", ++id}, {"method", method}, {"params", params}};
    std::map<std::string, std::string> headers;
    if (operatorName) headers["X-Operator"] = *operatorName;
    return Send("POST", "/rpc/Kxf27400.rdmParamForne", call.dump(), headers).Json();
}

bool HttpClient::ClosedByServer(int waitMs) {
    if (!impl_->stream) return true;
    pollfd p{impl_->stream->socket().native_handle(), POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return false;
    char c;
    return recv(p.fd, &c, 1, MSG_PEEK) == 0;
}

json UpdateDelta(const json& packet, const json& newValues) {
    return {{"fields", packet["fields"]},
            {"changes",
             json::array({{{"op", "update"}, {"old", packet["rows"][0]}, {"new", newValues}}})}};
}

json LoadPacket(HttpClient& client, const std::string& code) {
    const json answer = client.Call("GetParamForn", {code});
    const json& result = answer.value("result", json());
    if (!result.is_array() || result.empty() || result[0] != "S") {
        ADD_FAILURE() << "GetParamForn " << code << ": " << answer.dump();
        return json();
    }
    return result[1];
}

void ServerTest::SetUp() {
    if (GetParam() == "postgresql" && !std::getenv("KX_TEST_PG"))
        GTEST_SKIP() << "KX_TEST_PG não definido: sem servidor PostgreSQL para os testes";
    db_ = std::make_unique<TestDatabase>(GetParam());
    server_ = std::make_unique<ServerProcess>(db_->Url(), ServerArgs());
    client_ = std::make_unique<HttpClient>(server_->Port());
}

void ServerTest::TearDown() {
    client_.reset();
    if (server_) {
        const int code = server_->Stop();
        EXPECT_EQ(code, 0) << server_->Log();
    }
    server_.reset();
    db_.reset();
}

std::string EngineName(const ::testing::TestParamInfo<std::string>& info) {
    return info.param;
}
