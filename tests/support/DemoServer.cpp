#include "DemoServer.h"

DemoServer::DemoServer()
    : db_("sqlite", TestDatabase::Init::InProcess), server_(db_.Url(), {"--today", "2026-12-08"}) {}

DemoServer::~DemoServer() {
    server_.Stop();
}

DemoServer& DemoServer::Shared() {
    static DemoServer server;
    return server;
}
