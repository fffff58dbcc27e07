// End-to-end fixture: a demo database and a real appserver per test (server day 2026-12-08),
// and hostapp running the script driver on them as a child process, one command at a time.
#pragma once

#include "HostappProcess.h"
#include "ServerHarness.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class E2eTest : public ::testing::TestWithParam<std::string> {
protected:
    static constexpr const char* kOperator = "ana.souza";

    void SetUp() override;
    void TearDown() override;

    // The options that point hostapp at this test's database and server.
    std::vector<std::string> BaseArgs() const;
    // Starts hostapp with BaseArgs, --script - and extra.
    void Start(const std::vector<std::string>& extra = {});

    // One command and its answer.
    json Do(const json& cmd);
    // One command that must succeed; the answer.
    json Ok(const json& cmd);
    json State() { return Ok({{"do", "state"}})["state"]; }
    json Control(const std::string& name) { return State()["controls"][name]; }
    // Clears the inscription, types it and tabs out (which loads the supplier): the tab's answer.
    json Load(const std::string& inscription);
    // Opens the screen and loads a supplier, both required to succeed without any message.
    void OpenAndLoad(const std::string& inscription);

    std::unique_ptr<TestDatabase> db_;
    std::unique_ptr<ServerProcess> server_;
    std::unique_ptr<HostappProcess> host_;
};

// The busy kinds of an answer, in order.
std::vector<int> BusyKinds(const json& answer);
// The texts of an answer's dialogs, "kind:text" each.
std::vector<std::string> DialogTexts(const json& answer);

#define KX_E2E_ENGINES(suite)                                                                      \
    INSTANTIATE_TEST_SUITE_P(Engines, suite, ::testing::Values("sqlite", "postgresql"), EngineName)
