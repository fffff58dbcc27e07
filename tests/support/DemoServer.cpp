#include "DemoServer.h"

#include <stdexcept>

DemoServer::Operator::Operator(const std::string& dbUrl) {
    const RunResult r = RunAppserver({"operator", "add", kOperator, "--db", dbUrl}, {},
                                     std::string(kPassword) + "\n");
    if (r.exitCode != 0) throw std::runtime_error("appserver operator add falhou: " + r.err);
}

DemoServer::DemoServer()
    : db_("sqlite", TestDatabase::Init::InProcess), operator_(db_.Url()),
      server_(db_.Url(), {"--today", "2026-12-08", "--auth", "on"}) {}

DemoServer::~DemoServer() {
    server_.Stop();
}
