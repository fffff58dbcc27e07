// The host's server timeouts: shown in --help, checked, and holding the screen no longer than
// they say when the server stalls.
#include "E2eFixture.h"

#include "TcpFakes.h"

#include <chrono>

TEST(HostappTimeouts, ShownInTheHelpAndChecked) {
    HostappProcess help({"--help"});
    std::string text;
    while (auto line = help.ReadLine())
        text += *line + "\n";
    EXPECT_EQ(help.Finish(), 0);
    EXPECT_NE(text.find("--connect-timeout"), std::string::npos) << text;
    EXPECT_NE(text.find("--call-timeout"), std::string::npos) << text;
    for (const std::string bad : {"0", "abc", "601"}) {
        HostappProcess refused({"--call-timeout", bad, "--script", "-"});
        EXPECT_EQ(refused.Finish(), 2) << bad;
        EXPECT_NE(refused.Stderr().find("--call-timeout"), std::string::npos) << refused.Stderr();
    }
}

TEST(HostappTimeouts, AStalledServerHoldsTheScreenNoLongerThanTheCallTimeout) {
    TestDatabase db("sqlite");
    FakeServer stalled([](int fd) {
        for (;;) {
            const std::string request = ReadHttpMessage(fd);
            if (request.empty()) return;
            if (request.rfind("GET", 0) == 0)
                WriteAll(fd, HttpAnswer(200, R"({"module":"Kxf27400.rdmParamForne"})"));
        }
    });
    HostappProcess host({"--db", db.Url(), "--server",
                         "127.0.0.1:" + std::to_string(stalled.Port()), "--call-timeout", "1.5",
                         "--script", "-"});
    ASSERT_EQ(host.Send(R"({"do":"open"})")["ok"], true);
    ASSERT_EQ(host.Send(R"({"do":"type","control":"medNrInsJurNF","text":"11222333000181"})")["ok"],
              true);
    const auto start = std::chrono::steady_clock::now();
    const json tab = host.Send(R"({"do":"tab"})");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(3000));
    EXPECT_GE(took, std::chrono::milliseconds(1400));
    const auto dialogs = DialogTexts(tab);
    ASSERT_EQ(dialogs.size(), 1u) << tab.dump();
    EXPECT_NE(dialogs[0].find("não respondeu dentro do tempo limite"), std::string::npos)
        << dialogs[0];
    EXPECT_EQ(BusyKinds(tab), std::vector<int>{6}); // the loading animation, up all along
    EXPECT_EQ(host.Finish(), 0);
}
