#include "ServerHarness.h"

#include <atomic>
#include <cstdlib>

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

void AddOperator(const std::string& dbUrl, const std::string& name, const std::string& password) {
    const RunResult r = RunAppserver({"operator", "add", name, "--db", dbUrl}, {}, password + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

std::string LogIn(HttpClient& client, const std::string& name, const std::string& password,
                  json* answer, int* status) {
    static std::atomic<int> id{0};
    const json call = {
        {"jsonrpc", "2.0"}, {"id", ++id}, {"method", "Login"}, {"params", {name, password}}};
    const HttpResult r = client.Send("POST", "/rpc/Sessao", call.dump(), {});
    const json a = r.Json();
    if (answer) *answer = a;
    if (status) *status = r.status;
    const json result = ResultOf(a);
    return result.is_array() && result.size() == 3 && result[0] == "S"
               ? result[1].get<std::string>()
               : "";
}

TestCertificate MakeCertificate(const std::string& dir, const std::string& name) {
    const TestCertificate made{dir + "/" + name + ".pem", dir + "/" + name + ".key"};
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "
                                "/CN=localhost -addext subjectAltName=IP:127.0.0.1,DNS:localhost "
                                "-keyout '" +
                                made.key + "' -out '" + made.cert + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return made;
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
