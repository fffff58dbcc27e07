// HTTPS from hostapp to appserver with a certificate made here, and the refusal to send a
// password in clear to another machine.
#include "E2eFixture.h"

#include <chrono>
#include <cstdlib>

namespace {

const std::string kOperator = "ana.souza", kPassword = "senha-da-ana-1";

std::vector<std::string> Args(const TestDatabase& db, const std::string& server,
                              std::vector<std::string> extra) {
    std::vector<std::string> args = {"--db",       db.Url(),     "--server", server,     "--today",
                                     "2026-12-08", "--operator", kOperator,  "--script", "-"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

TEST(HttpsTest, HostappSavesOverHttpsAndRefusesAnUnknownAuthority) {
    TestDatabase db("sqlite");
    const std::string cert = db.Dir() + "/cert.pem", key = db.Dir() + "/key.pem";
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost"
                             " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
                             key + "' -out '" + cert + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    AddOperator(db.Url(), kOperator, kPassword);
    ServerProcess server(
        db.Url(), {"--today", "2026-12-08", "--auth", "on", "--tls-cert", cert, "--tls-key", key});
    const std::string https = "https://127.0.0.1:" + std::to_string(server.Port());

    HostappProcess host(Args(db, https, {"--ca", cert}), {{"KX_PASSWORD", kPassword}});
    const auto ok = [&](const json& cmd) {
        const json a = host.Send(cmd.dump());
        EXPECT_EQ(a.value("ok", false), true) << cmd << " -> " << a;
        EXPECT_EQ(DialogTexts(a), std::vector<std::string>{}) << cmd;
        return a;
    };
    ok({{"do", "open"}});
    ok({{"do", "type"}, {"control", "medNrInsJurNF"}, {"text", "11222333000181"}});
    ok({{"do", "tab"}});
    ok({{"do", "click"}, {"control", "dckSimples"}});
    ok({{"do", "click"}, {"control", "sbtConfirma"}});
    const auto log = db.LogRows("000001");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("CDOPERADOR"), kOperator);
    EXPECT_EQ(host.Finish(), 0) << host.Stderr();

    // The same server without its authority: the connection is refused, nothing is signed in.
    HostappProcess untrusted(Args(db, https, {}), {{"KX_PASSWORD", kPassword}});
    untrusted.Send(R"({"do":"open"})");
    EXPECT_EQ(untrusted.Finish(), 0);
    EXPECT_NE(untrusted.Stderr().find("conexão segura (TLS) falhou"), std::string::npos)
        << untrusted.Stderr();
    server.Stop(); // the call log is complete once the server has stopped
    const std::string serverLog = server.Log();
    EXPECT_NE(serverLog.find("method=Login"), std::string::npos) << serverLog;
    EXPECT_EQ(serverLog.find("method=Login"), serverLog.rfind("method=Login")) << serverLog;
}

TEST(HttpsTest, PlainHttpToAnotherMachineIsRefusedUnlessInsecure) {
    TestDatabase db("sqlite");
    // 192.0.2.0/24 is never routed: a connection attempt could only time out.
    const auto start = std::chrono::steady_clock::now();
    HostappProcess refused(Args(db, "192.0.2.10:4711", {"--connect-timeout", "5"}),
                           {{"KX_PASSWORD", kPassword}});
    EXPECT_EQ(refused.Finish(), 1);
    EXPECT_NE(refused.Stderr().find("Conexão sem criptografia recusada"), std::string::npos)
        << refused.Stderr();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4))
        << "refused before any connection was tried";

    HostappProcess insecure(Args(db, "192.0.2.10:4711", {"--connect-timeout", "0.3", "--insecure"}),
                            {{"KX_PASSWORD", kPassword}});
    EXPECT_EQ(insecure.Finish(), 0);
    EXPECT_EQ(insecure.Stderr().find("sem criptografia"), std::string::npos) << insecure.Stderr();
    EXPECT_NE(insecure.Stderr().find("aviso"), std::string::npos) << insecure.Stderr();
}

} // namespace
