// Test support for appserver: a demo database per test (SQLite file or a fresh PostgreSQL
// database on KX_TEST_PG), the real server process, and a small keep-alive HTTP client.
#pragma once

#include <nlohmann/json.hpp>
#include <soci/soci.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using nlohmann::json;

std::string AppserverPath();

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Extra environment variables of a started appserver ("NAME=value").
using Environment = std::vector<std::string>;

// Runs appserver with the arguments and waits for it.
RunResult RunAppserver(const std::vector<std::string>& args, const Environment& env = {});

// A temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

class TestDatabase {
public:
    // kind "sqlite" or "postgresql"; the demo data is loaded.
    explicit TestDatabase(const std::string& kind);
    ~TestDatabase();
    const std::string& Url() const { return url_; }
    bool IsSqlite() const { return kind_ == "sqlite"; }
    const std::string& Dir() const { return dir_.Path(); }
    std::string SqlitePath() const { return dir_.Path() + "/kx.db"; }
    soci::session& Sql(); // opened on first use
    void CloseSql() { sql_.reset(); }

    // Every row of a query, each column as text ("null" for null), for before/after checks.
    std::string Dump(const std::string& query);
    // A PARAMFORNE row as column name -> value (numbers as numbers, dates YYYY-MM-DD).
    std::optional<std::map<std::string, json>> ParamRow(const std::string& code);
    // PARAMFORNELOG rows of a supplier in insertion order.
    std::vector<std::map<std::string, json>> LogRows(const std::string& code);

    // PostgreSQL only: the server of KX_TEST_PG, for statements about this database.
    soci::session& Admin();
    std::string Name() const { return name_; }

private:
    std::string kind_;
    TempDir dir_;
    std::string url_;
    std::string name_;
    std::unique_ptr<soci::session> sql_;
    std::unique_ptr<soci::session> admin_;
};

// Descriptor limits the server starts with (0 keeps the test's own).
struct FileLimits {
    unsigned long soft = 0, hard = 0;
};

// appserver serve; an empty dbUrl leaves --db to the configuration file or environment.
class ServerProcess {
public:
    ServerProcess(const std::string& dbUrl, const std::vector<std::string>& extra = {},
                  const std::string& listen = "127.0.0.1:0", const Environment& env = {},
                  FileLimits limits = {});
    ~ServerProcess();
    int Port() const { return port_; }
    int Pid() const { return pid_; }
    // SIGTERM, then the exit code (-1 when it had to be killed after the timeout).
    int Stop(int timeoutMs = 10000);
    bool Running();
    std::string Log() const;

private:
    int pid_ = -1;
    int port_ = 0;
    TempDir logDir_;
};

struct HttpResult {
    int status = 0;
    std::string body;
    std::map<std::string, std::string> headers;
    json Json() const { return json::parse(body); }
};

// Blocking HTTP/1.1 client on one keep-alive connection, reopened when the server closed it.
class HttpClient {
public:
    explicit HttpClient(int port);
    ~HttpClient();
    HttpResult Send(const std::string& verb, const std::string& target, const std::string& body,
                    const std::map<std::string, std::string>& headers = {});
    // POST /rpc/Kxf27400.rdmParamForne; the whole JSON-RPC answer.
    json Call(const std::string& method, const json& params,
              const std::optional<std::string>& operatorName = std::nullopt);
    int Connects() const { return connects_; }
    // True when the server closed the connection (read gives end of stream within the time).
    bool ClosedByServer(int waitMs);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_;
    int connects_ = 0;
};

// The delta the client's data layer sends to save newValues over the packet's row.
json UpdateDelta(const json& packet, const json& newValues);

// The packet of GetParamForn for a supplier (fails the test when the answer is not "S").
json LoadPacket(HttpClient& client, const std::string& code);

// The fixture of the tests that need a demo database and a running server, per engine.
class ServerTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual std::vector<std::string> ServerArgs() const { return {"--today", "2026-12-08"}; }

    std::unique_ptr<TestDatabase> db_;
    std::unique_ptr<ServerProcess> server_;
    std::unique_ptr<HttpClient> client_;
};

std::string EngineName(const ::testing::TestParamInfo<std::string>& info);

#define KX_ENGINES(suite)                                                                          \
    INSTANTIATE_TEST_SUITE_P(Engines, suite, ::testing::Values("sqlite", "postgresql"), EngineName)

// The error and result members of an answer; a missing member reads as null instead of
// tripping json's assertion on const access.
inline json RpcErrorOf(const json& answer) {
    return answer.is_object() && answer.contains("error")
               ? answer["error"]
               : json{{"code", nullptr}, {"message", "(sem erro) " + answer.dump()}};
}
inline json ResultOf(const json& answer) {
    return answer.is_object() && answer.contains("result") ? answer["result"] : json();
}
