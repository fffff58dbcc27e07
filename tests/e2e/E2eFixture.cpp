#include "E2eFixture.h"

#include <cstdlib>

void E2eTest::SetUp() {
    if (GetParam() == "postgresql" && !std::getenv("KX_TEST_PG"))
        GTEST_SKIP() << "KX_TEST_PG não definido: sem servidor PostgreSQL para os testes";
    db_ = std::make_unique<TestDatabase>(GetParam());
    server_ = std::make_unique<ServerProcess>(db_->Url(),
                                              std::vector<std::string>{"--today", "2026-12-08"});
}

void E2eTest::TearDown() {
    if (host_) {
        // Every answer was read command by command: a line left over is a second answer.
        EXPECT_EQ(host_->Finish(), 0) << host_->Stderr();
        EXPECT_TRUE(host_->RemainingLines().empty())
            << "linhas a mais: " << host_->RemainingLines().front();
        host_.reset();
    }
    if (server_) server_->Stop();
}

std::vector<std::string> E2eTest::BaseArgs() const {
    return {"--db",    db_->Url(),   "--server",   "127.0.0.1:" + std::to_string(server_->Port()),
            "--today", "2026-12-08", "--operator", kOperator};
}

void E2eTest::Start(const std::vector<std::string>& extra) {
    std::vector<std::string> args = BaseArgs();
    args.insert(args.end(), {"--script", "-"});
    args.insert(args.end(), extra.begin(), extra.end());
    host_ = std::make_unique<HostappProcess>(args);
}

json E2eTest::Do(const json& cmd) {
    return host_->Send(cmd.dump());
}

json E2eTest::Ok(const json& cmd) {
    json a = Do(cmd);
    EXPECT_EQ(a.value("ok", false), true) << cmd.dump() << " -> " << a.dump();
    return a;
}

json E2eTest::Load(const std::string& inscription) {
    Ok({{"do", "clear"}, {"control", "medNrInsJurNF"}});
    Ok({{"do", "type"}, {"control", "medNrInsJurNF"}, {"text", inscription}});
    return Ok({{"do", "tab"}});
}

void E2eTest::OpenAndLoad(const std::string& inscription) {
    if (!host_) Start();
    json open = Ok({{"do", "open"}});
    ASSERT_EQ(DialogTexts(open), std::vector<std::string>{});
    json load = Load(inscription);
    ASSERT_EQ(DialogTexts(load), std::vector<std::string>{}) << inscription;
}

std::vector<int> BusyKinds(const json& answer) {
    std::vector<int> out;
    for (const json& b : answer.value("busy", json::array()))
        out.push_back(b.value("kind", -1));
    return out;
}

std::vector<std::string> DialogTexts(const json& answer) {
    std::vector<std::string> out;
    for (const json& d : answer.value("dialogs", json::array()))
        out.push_back(d.value("kind", "?") + ":" + d.value("text", "?"));
    return out;
}
