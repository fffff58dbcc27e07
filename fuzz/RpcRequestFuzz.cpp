// The server's side of a request body: JSON-RPC decoding, then the module's validation of the
// values, against a demo database of its own (saves that pass validation are really applied).
#include "FuzzTarget.h"

#include "Database.h"
#include "JsonRpc.h"
#include "RdmParamForne.h"
#include "RpcError.h"
#include "Schema.h"

#include <soci/soci.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

struct Server {
    std::string path;
    std::unique_ptr<Database> db;
    RdmParamForne module;

    Server() {
        const char* dir = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        path = std::string(dir) + "/kx-fuzz-" + std::to_string(getpid()) + ".db";
        soci::session sql;
        kxsql::OpenSession(sql, "sqlite:" + path);
        for (const std::string& s : kxsql::SchemaStatements(kxsql::Engine::SQLite))
            sql << s;
        for (const std::string& s : kxsql::DemoStatements(kxsql::Engine::SQLite))
            sql << s;
        db = std::make_unique<Database>("sqlite:" + path);
    }
    ~Server() {
        db.reset();
        for (const char* suffix : {"", "-wal", "-shm"})
            std::remove((path + suffix).c_str());
    }
};

} // namespace

KX_FUZZ_TARGET(RpcRequest) {
    static Server server;
    const std::string body = FuzzText(data, size);
    nlohmann::json id;
    std::string answer;
    try {
        const RpcCall call = DecodeRpcCall(body, id);
        // The first byte chooses whether the call carries a key, so both paths are explored.
        std::optional<std::string> key;
        if (size > 0 && (data[0] & 1)) key = "fuzz-" + std::to_string(size % 7);
        CallContext ctx{
            *server.db, std::string("fuzz"), "2026-12-08", "2026-12-08 10:00:00", "", false, key};
        answer = DumpJson(server.module.Call(call.method, call.params, ctx));
        // A method that writes its answer itself must write well-formed JSON.
        if (!ctx.resultText.empty()) answer = DumpJson(nlohmann::json::parse(ctx.resultText));
        (void)LogSafe(ctx.subject);
    } catch (const RpcError& e) {
        answer = DumpJson(nlohmann::json{{"code", e.Code()}, {"message", e.what()}});
        (void)LogSafe(e.what());
    }
    (void)DumpJson(id);
    return 0;
}
