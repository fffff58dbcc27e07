// Failures and concurrency: a database that goes away and comes back, racing saves against two
// servers, shutdown with calls in flight, idle connections.
#include "ServerHarness.h"

#include <boost/system/system_error.hpp>

#include <filesystem>
#include <future>
#include <sstream>
#include <thread>

namespace {
const char* kConflict =
    "Registro alterado por outro usuário. Recarregue o fornecedor e repita a alteração.";
}

class RobustnessTest : public ServerTest {};
KX_ENGINES(RobustnessTest);

TEST_P(RobustnessTest, DatabaseGoesAwayAndComesBack) {
    ASSERT_EQ(client_->Call("GetParamForn", {"000001"})["result"][0], "S");
    db_->CloseSql();
    std::function<void()> away, back;
    if (db_->IsSqlite()) {
        namespace fs = std::filesystem;
        const std::string path = db_->SqlitePath(), moved = db_->Dir() + "/away";
        fs::create_directory(moved);
        away = [=] {
            for (const std::string suffix : {"", "-wal", "-shm"})
                if (fs::exists(path + suffix)) fs::rename(path + suffix, moved + "/kx.db" + suffix);
        };
        back = [=] {
            for (const std::string suffix : {"", "-wal", "-shm"})
                if (fs::exists(moved + "/kx.db" + suffix))
                    fs::rename(moved + "/kx.db" + suffix, path + suffix);
        };
    } else {
        const std::string name = db_->Name();
        auto& admin = db_->Admin();
        away = [&admin, name] {
            admin << "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                         name + "'";
            admin << "ALTER DATABASE " + name + " RENAME TO " + name + "_away";
        };
        back = [&admin, name] { admin << "ALTER DATABASE " + name + "_away RENAME TO " + name; };
    }
    away();
    for (int i = 0; i < 3; ++i) {
        const json get = client_->Call("GetParamForn", {"000001"});
        EXPECT_EQ(RpcErrorOf(get)["code"], -32002) << get.dump();
        EXPECT_NE(RpcErrorOf(get)["message"].get<std::string>().find("Banco de dados"),
                  std::string::npos);
    }
    back();
    EXPECT_EQ(client_->Call("GetParamForn", {"000001"})["result"][0], "S");
    const json save =
        client_->Call("SetParamForn",
                      {UpdateDelta(LoadPacket(*client_, "000001"), {{"IDUTPRIGXML", "S"}}), false});
    EXPECT_EQ(ResultOf(save), json::array({"S"}));
    EXPECT_TRUE(server_->Running());
}

// A connection the database dropped while idle is replaced without failing the call.
TEST_P(RobustnessTest, StaleConnectionIsReopenedTransparently) {
    if (db_->IsSqlite()) GTEST_SKIP() << "só o PostgreSQL encerra conexões";
    ASSERT_EQ(client_->Call("GetParamForn", {"000001"})["result"][0], "S");
    db_->Admin() << "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                        db_->Name() + "' AND pid <> pg_backend_pid()";
    EXPECT_EQ(client_->Call("GetParamForn", {"000001"})["result"][0], "S");
}

// Clients save one supplier from the same original against two servers sharing the database:
// exactly one save per round is acknowledged and the stored row is that save.
TEST_P(RobustnessTest, RacingSavesFromOneOriginalLetExactlyOneWin) {
    ServerProcess second(db_->Url(), {"--today", "2026-12-08"});
    const int ports[] = {server_->Port(), second.Port()};
    constexpr int kClients = 6;
    for (const std::string code : {"000001", "000002"}) { // an update and a first insert
        for (int round = 0; round < 3; ++round) {
            HttpClient loader(ports[round % 2]);
            const json packet = LoadPacket(loader, code);
            std::vector<std::future<json>> saves;
            std::promise<void> go;
            std::shared_future<void> start = go.get_future().share();
            for (int c = 0; c < kClients; ++c) {
                saves.push_back(std::async(std::launch::async, [&, c] {
                    HttpClient client(ports[c % 2]);
                    const json delta =
                        UpdateDelta(packet, {{"VRMAXPERMFORN", 100 * (round + 1) + c},
                                             {"IDUTPRIGXML", c % 2 ? "S" : "N"},
                                             {"QTREPETEPRODNF", c + 1}});
                    start.wait();
                    return client.Call("SetParamForn", {delta, false}, "op" + std::to_string(c));
                }));
            }
            go.set_value();
            std::vector<int> winners;
            for (int c = 0; c < kClients; ++c) {
                const json answer = saves[c].get();
                if (answer.contains("result")) {
                    EXPECT_EQ(ResultOf(answer), json::array({"S"}));
                    winners.push_back(c);
                } else {
                    EXPECT_EQ(RpcErrorOf(answer)["code"], -32001) << answer.dump();
                    EXPECT_EQ(RpcErrorOf(answer)["message"], kConflict);
                }
            }
            ASSERT_EQ(winners.size(), 1u) << code << " round " << round;
            const int w = winners[0];
            const auto row = db_->ParamRow(code);
            ASSERT_TRUE(row);
            EXPECT_EQ(row->at("VRMAXPERMFORN"), 100.0 * (round + 1) + w);
            EXPECT_EQ(row->at("QTREPETEPRODNF"), w + 1.0);
            EXPECT_EQ(row->at("IDUTPRIGXML"), w % 2 ? "S" : "N");
            // The last audit rows are the winner's.
            const auto log = db_->LogRows(code);
            ASSERT_FALSE(log.empty());
            EXPECT_EQ(log.back().at("CDOPERADOR"), "op" + std::to_string(w));
            auto last = std::find_if(log.rbegin(), log.rend(), [](const auto& entry) {
                return entry.at("NMCAMPO") == "VRMAXPERMFORN";
            });
            ASSERT_NE(last, log.rend());
            EXPECT_EQ(last->at("DSVALORNOVO"), std::to_string(100 * (round + 1) + w));
        }
    }
    EXPECT_EQ(second.Stop(), 0) << second.Log();
}

// SIGTERM while a save waits for a lock: the save completes and is answered, new connections are
// refused, and the server exits 0.
TEST_P(RobustnessTest, ShutdownFinishesTheCallInFlight) {
    const json delta = UpdateDelta(LoadPacket(*client_, "000001"), {{"IDUTPRIGXML", "S"}});
    soci::session& sql = db_->Sql();
    if (db_->IsSqlite()) {
        sql << "BEGIN IMMEDIATE";
    } else {
        sql << "BEGIN";
        sql << "SELECT CDFORNECED FROM PARAMFORNE WHERE CDFORNECED = '000001' FOR UPDATE";
    }
    HttpClient idle(server_->Port());
    ASSERT_EQ(idle.Send("GET", "/rpc/Kxf27400.rdmParamForne", "").status, 200);
    auto save = std::async(std::launch::async, [&] {
        HttpClient client(server_->Port());
        return client.Call("SetParamForn", {delta, false});
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(server_->Pid(), SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(server_->Running());
    EXPECT_TRUE(idle.ClosedByServer(2000)); // idle connections are closed at once
    EXPECT_ANY_THROW({
        HttpClient late(server_->Port());
        late.Send("GET", "/rpc/Kxf27400.rdmParamForne", "");
    });
    sql << "COMMIT";
    EXPECT_EQ(save.get()["result"], json::array({"S"}));
    EXPECT_EQ(server_->Stop(), 0) << server_->Log();
    EXPECT_EQ(db_->ParamRow("000001")->at("IDUTPRIGXML"), "S");
    server_.reset();
}

// One key=value line per call, in a fixed key order, carrying the request id the answer carries;
// what the request held beyond the operator and the supplier (tokens, passwords) never appears.
TEST_P(RobustnessTest, EveryCallIsLogged) {
    const std::map<std::string, std::string> secret = {{"Authorization", "Bearer tk-77e1"},
                                                       {"X-Request-Id", "pedido-42"},
                                                       {"X-Operator", "Ana Lúcia"}};
    const HttpResult first = client_->Send(
        "POST", "/rpc/Kxf27400.rdmParamForne",
        R"({"jsonrpc":"2.0","id":1,"method":"GetParamForn","params":["000001"],"senha":"pw-91"})",
        secret);
    EXPECT_EQ(first.headers.at("X-Request-Id"), "pedido-42");
    const HttpResult second =
        client_->Send("POST", "/rpc/Kxf27400.rdmParamForne",
                      R"({"jsonrpc":"2.0","id":2,"method":"GetParamForn","params":["404040"]})",
                      {{"X-Request-Id", "não serve"}});
    const std::string generated = second.headers.at("X-Request-Id");
    EXPECT_NE(generated, "não serve");
    client_->Call("SetParamForn", {json::object(), false});
    client_->Send("GET", "/metrics", "");
    server_->Stop();
    const std::string log = server_->Log();
    server_.reset();

    std::vector<std::string> calls;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.find(" event=call ") != std::string::npos) calls.push_back(line);
    ASSERT_EQ(calls.size(), 3u) << log;
    const std::string keys =
        "ts= event= id= module= method= operator= supplier= duration_ms= outcome=";
    for (const std::string& line : calls) {
        size_t at = 0;
        std::istringstream expected(keys);
        for (std::string key; expected >> key;) {
            const auto found = line.find((at ? " " : "") + key, at);
            EXPECT_NE(found, std::string::npos) << key << " em " << line;
            at = found == std::string::npos ? at : found + 1;
        }
    }
    EXPECT_NE(calls[0].find(" id=pedido-42 module=Kxf27400.rdmParamForne method=GetParamForn "
                            "operator=\"Ana Lúcia\" supplier=000001 duration_ms="),
              std::string::npos)
        << calls[0];
    EXPECT_NE(calls[0].find(" outcome=ok"), std::string::npos) << calls[0];
    EXPECT_NE(calls[1].find(" id=" + generated + " "), std::string::npos) << calls[1];
    EXPECT_NE(calls[1].find(" operator=- supplier=404040 "), std::string::npos) << calls[1];
    EXPECT_NE(calls[1].find(" outcome=refused message=\"Fornecedor não cadastrado.\""),
              std::string::npos)
        << calls[1];
    EXPECT_NE(calls[2].find(" method=SetParamForn operator=- supplier=- "), std::string::npos)
        << calls[2];
    EXPECT_NE(calls[2].find(" outcome=invalid code=-32602 message="), std::string::npos)
        << calls[2];
    for (const char* hidden : {"tk-77e1", "pw-91", "Bearer"})
        EXPECT_EQ(log.find(hidden), std::string::npos) << hidden;
}

class IdleTimeoutTest : public ServerTest {
protected:
    std::vector<std::string> ServerArgs() const override { return {"--idle-timeout", "1"}; }
};
KX_ENGINES(IdleTimeoutTest);

TEST_P(IdleTimeoutTest, IdleConnectionIsClosedAndTheNextCallReconnects) {
    ASSERT_EQ(client_->Call("GetParamForn", {"000001"})["result"][0], "S");
    EXPECT_FALSE(client_->ClosedByServer(300));
    EXPECT_TRUE(client_->ClosedByServer(3000));
    EXPECT_EQ(client_->Call("GetParamForn", {"000001"})["result"][0], "S");
    EXPECT_EQ(client_->Connects(), 2);
}
