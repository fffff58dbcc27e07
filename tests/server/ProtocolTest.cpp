// The JSON-RPC and HTTP layer: answer forms, error codes, keep-alive, limits.
#include "ServerHarness.h"

namespace {
const std::string kModule = "/rpc/Kxf27400.rdmParamForne";
}

class ProtocolTest : public ServerTest {};
KX_ENGINES(ProtocolTest);

TEST_P(ProtocolTest, ModuleInfoAndUnknownModules) {
    const HttpResult info = client_->Send("GET", kModule, "");
    EXPECT_EQ(info.status, 200);
    EXPECT_EQ(info.Json()["methods"],
              json::array({"GetParamForn", "SetParamForn", "GetLogParamForn", "ExportParamForn",
                           "ImportParamForn"}));
    EXPECT_EQ(info.Json()["module"], "Kxf27400.rdmParamForne");
    for (const std::string verb : {"GET", "POST"}) {
        for (const std::string target : {"/rpc/Kxf99999.rdmOutro", "/rpc/", "/outra"}) {
            const HttpResult r = client_->Send(
                verb, target, R"({"jsonrpc":"2.0","id":1,"method":"GetParamForn","params":["1"]})");
            EXPECT_EQ(r.status, 404) << verb << " " << target;
            EXPECT_EQ(r.Json()["error"]["code"], -32601) << verb << " " << target;
        }
    }
    const HttpResult put = client_->Send("PUT", kModule, "{}");
    EXPECT_EQ(put.status, 405);
    EXPECT_EQ(put.headers.at("Allow"), "GET, POST");
}

TEST_P(ProtocolTest, RequestErrorsAnswerTheirCodes) {
    struct Case {
        std::string body;
        int code;
        json id;
    };
    const std::vector<Case> cases = {
        {R"({"jsonrpc":"2.0","id":7,"method":"GetParamForn","params":["000001"])", -32700, nullptr},
        {"", -32700, nullptr},
        {R"([{"jsonrpc":"2.0","id":1,"method":"GetParamForn","params":["000001"]}])", -32600,
         nullptr},
        {"42", -32600, nullptr},
        {R"({"id":3,"method":"GetParamForn","params":["000001"]})", -32600, 3},
        {R"({"jsonrpc":"1.0","id":3,"method":"GetParamForn","params":["000001"]})", -32600, 3},
        {R"({"jsonrpc":"2.0","id":"a","method":5})", -32600, "a"},
        {R"({"jsonrpc":"2.0","id":{"x":1},"method":"GetParamForn"})", -32600, nullptr},
        {R"({"jsonrpc":"2.0","id":4,"method":"GetParamForn","params":"000001"})", -32600, 4},
        {R"({"jsonrpc":"2.0","id":5,"method":"Apagar","params":[]})", -32601, 5},
        {R"({"jsonrpc":"2.0","id":6,"method":"GetParamForn"})", -32602, 6},
        {R"({"jsonrpc":"2.0","id":6,"method":"GetParamForn","params":[1]})", -32602, 6},
        {R"({"jsonrpc":"2.0","id":6,"method":"GetParamForn","params":["1","2"]})", -32602, 6},
        {R"({"jsonrpc":"2.0","id":6,"method":"GetParamForn","params":{"code":"000001"}})", -32602,
         6},
        {R"({"jsonrpc":"2.0","id":8,"method":"SetParamForn","params":[{}]})", -32602, 8},
        {R"({"jsonrpc":"2.0","id":8,"method":"SetParamForn","params":[{},"true"]})", -32602, 8},
        {R"({"jsonrpc":"2.0","id":8,"method":"SetParamForn","params":["delta",false]})", -32602, 8},
    };
    for (const Case& c : cases) {
        const HttpResult r = client_->Send("POST", kModule, c.body);
        EXPECT_EQ(r.status, 200) << c.body;
        const json answer = r.Json();
        EXPECT_EQ(answer["jsonrpc"], "2.0");
        EXPECT_EQ(RpcErrorOf(answer)["code"], c.code) << c.body << " -> " << r.body;
        EXPECT_EQ(answer["id"], c.id) << c.body;
        EXPECT_FALSE(RpcErrorOf(answer)["message"].get<std::string>().empty());
        EXPECT_FALSE(answer.contains("result"));
    }
    EXPECT_EQ(client_->Connects(), 1); // errors keep the connection
}

TEST_P(ProtocolTest, CallsShareOneKeepAliveConnectionAndEchoTheirId) {
    for (const json& id : {json("abc"), json(12), json(nullptr)}) {
        const json call = {
            {"jsonrpc", "2.0"}, {"id", id}, {"method", "GetParamForn"}, {"params", {"000001"}}};
        const HttpResult r = client_->Send("POST", kModule, call.dump());
        EXPECT_EQ(r.Json()["id"], id);
        EXPECT_EQ(r.Json()["result"][0], "S");
        EXPECT_EQ(r.headers.count("Connection"), 0u);
    }
    EXPECT_EQ(client_->Connects(), 1);
}

TEST_P(ProtocolTest, NotificationIsRunWithoutAnswer) {
    const json delta = UpdateDelta(LoadPacket(*client_, "000001"), {{"IDUTPRIGXML", "S"}});
    const json call = {{"jsonrpc", "2.0"}, {"method", "SetParamForn"}, {"params", {delta, false}}};
    const HttpResult r = client_->Send("POST", kModule, call.dump());
    EXPECT_EQ(r.status, 204);
    EXPECT_TRUE(r.body.empty());
    EXPECT_EQ(db_->ParamRow("000001")->at("IDUTPRIGXML"), "S");
}

TEST_P(ProtocolTest, BodyLimitIsOneMebibyte) {
    const std::string call =
        R"({"jsonrpc":"2.0","id":1,"method":"GetParamForn","params":["000001"]})";
    std::string exact = call + std::string((1 << 20) - call.size(), ' ');
    const HttpResult fits = client_->Send("POST", kModule, exact);
    EXPECT_EQ(fits.status, 200);
    EXPECT_EQ(fits.Json()["result"][0], "S");

    exact.push_back(' ');
    const HttpResult over = client_->Send("POST", kModule, exact);
    EXPECT_EQ(over.status, 413);
    EXPECT_EQ(over.Json()["error"]["code"], -32600);
    EXPECT_NE(over.Json()["error"]["message"].get<std::string>().find("1 MiB"), std::string::npos);
    // The refused connection is closed; the next call opens another and is served.
    EXPECT_EQ(client_->Call("GetParamForn", {"000001"})["result"][0], "S");
    EXPECT_EQ(client_->Connects(), 2);
}

TEST_P(ProtocolTest, OperatorHeaderIsChecked) {
    const json delta = UpdateDelta(LoadPacket(*client_, "000001"), {{"IDUTPRIGXML", "S"}});
    const json tooLong = client_->Call("SetParamForn", {delta, false}, std::string(41, 'o'));
    EXPECT_EQ(RpcErrorOf(tooLong)["code"], -32600);
    EXPECT_EQ(client_->Call("SetParamForn", {delta, false}, std::string(40, 'o'))["result"],
              json::array({"S"}));
}
