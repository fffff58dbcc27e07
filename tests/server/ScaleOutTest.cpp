// Several appserver processes over one PostgreSQL database: racing saves of one supplier through
// two servers lose nothing.
#include "ServerHarness.h"

#include <thread>

TEST(ScaleOut, TwoServersRacingOnOneSupplierLoseNoChange) {
    if (!std::getenv("KX_TEST_PG"))
        GTEST_SKIP() << "KX_TEST_PG não definido: sem servidor PostgreSQL para os testes";
    TestDatabase db("postgresql");
    ServerProcess first(db.Url()), second(db.Url());
    const std::string code = "000001";
    constexpr int kClients = 4, kSaves = 15;

    // Each client sets the days to values of its own, reloading after every conflict, so every
    // acknowledged save is one value that the audit must show exactly once.
    std::vector<std::vector<int>> acknowledged(kClients);
    std::vector<std::string> failures(kClients);
    std::vector<std::thread> clients;
    for (int t = 0; t < kClients; ++t)
        clients.emplace_back([&, t] {
            HttpClient client(t % 2 ? second.Port() : first.Port());
            for (int i = 0; i < kSaves && failures[t].empty();) {
                const json packet = LoadPacket(client, code);
                const int value = 1000 * (t + 1) + i;
                const json answer = client.Call(
                    "SetParamForn", {UpdateDelta(packet, {{"NRDIASBLOQNFFOR", value}}), false});
                if (ResultOf(answer) == json::array({"S"})) {
                    acknowledged[t].push_back(value);
                    ++i;
                } else if (RpcErrorOf(answer)["message"].get<std::string>().find(
                               "Registro alterado por outro usuário") == std::string::npos) {
                    failures[t] = answer.dump(); // anything but a conflict is a fault
                }
            }
        });
    for (std::thread& c : clients)
        c.join();
    for (const std::string& f : failures)
        EXPECT_EQ(f, "");

    // The audit rows form one chain: each save started from the value the one before it left.
    std::multiset<std::string> saved, logged;
    for (const auto& values : acknowledged)
        for (int v : values)
            saved.insert(std::to_string(v));
    const auto log = db.LogRows(code);
    std::string previous;
    for (size_t i = 0; i < log.size(); ++i) {
        const auto& row = log[i];
        ASSERT_EQ(row.at("NMCAMPO"), "NRDIASBLOQNFFOR");
        if (i > 0) {
            EXPECT_EQ(row.at("DSVALORANT").get<std::string>(), previous) << i;
        }
        previous = row.at("DSVALORNOVO").get<std::string>();
        logged.insert(previous);
    }
    EXPECT_EQ(logged, saved);
    EXPECT_EQ(log.size(), static_cast<size_t>(kClients * kSaves));
    const auto stored = db.ParamRow(code);
    ASSERT_TRUE(stored);
    EXPECT_EQ(std::to_string(stored->at("NRDIASBLOQNFFOR").get<int>()), previous);
    EXPECT_EQ(first.Stop(), 0) << first.Log();
    EXPECT_EQ(second.Stop(), 0) << second.Log();
}
