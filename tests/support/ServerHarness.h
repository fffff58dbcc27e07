// Test support for appserver: a demo database per test, the real server process and a small
// keep-alive HTTP client, with the fixture of the tests that need all three.
#pragma once

#include "HttpClient.h"
#include "ServerProcess.h"
#include "TestDatabase.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using nlohmann::json;

// The delta the client's data layer sends to save newValues over the packet's row.
json UpdateDelta(const json& packet, const json& newValues);

// appserver operator add NAME on the database with the password; fails the test when refused.
void AddOperator(const std::string& dbUrl, const std::string& name, const std::string& password);

// Login on the server: the session token, or "" when refused (the answer in `answer`).
std::string LogIn(HttpClient& client, const std::string& name, const std::string& password,
                  json* answer = nullptr, int* status = nullptr);

// A self-signed RSA certificate for 127.0.0.1 and localhost and its private key (mode 0600), made
// by openssl in dir as NAME.pem and NAME.key; fails the test when openssl does.
struct TestCertificate {
    std::string cert, key;
};
TestCertificate MakeCertificate(const std::string& dir, const std::string& name);

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
