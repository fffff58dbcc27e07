// Calls of the supplier-parameters module through TNetConnection against a real appserver.
#include "DemoServer.h"

#include <benchmark/benchmark.h>

#include "net/NetConnection.h"

namespace {

const char* kModule = "Kxf27400.rdmParamForne";

void Connect(TNetConnection& c) {
    c.ServerName = kModule;
    c.Host = "127.0.0.1";
    c.Port = DemoServer::Shared().Port();
    c.SetConnected(true);
}

nlohmann::json Packet(TNetConnection& c, const char* code) {
    Variant answer = c.Call("GetParamForn", {Variant(String(code))});
    return answer[1].AsJson();
}

// One call on the connection kept open: without TCP_NODELAY on both sides a request and its
// answer would wait out the delayed acknowledgement, about 40 ms each.
void BM_GetParamFornKeepAlive(benchmark::State& state) {
    TNetConnection c;
    Connect(c);
    for (auto _ : state) {
        Variant answer = c.Call("GetParamForn", {Variant(String("000001"))});
        benchmark::DoNotOptimize(answer);
    }
    state.SetLabel("conexão mantida; sem TCP_NODELAY, ~40 ms");
}
BENCHMARK(BM_GetParamFornKeepAlive)->Unit(benchmark::kMicrosecond);

// The same call on a fresh connection each time: what keeping the connection saves.
void BM_GetParamFornNewConnection(benchmark::State& state) {
    for (auto _ : state) {
        TNetConnection c;
        Connect(c);
        Variant answer = c.Call("GetParamForn", {Variant(String("000001"))});
        benchmark::DoNotOptimize(answer);
        c.SetConnected(false);
    }
    state.SetLabel("conexão nova por chamada");
}
BENCHMARK(BM_GetParamFornNewConnection)->Unit(benchmark::kMicrosecond);

// A save of one flag, as the screen sends it: the delta holds the row as loaded and the new
// value; each iteration flips the flag back, so every save changes the stored row and writes
// one audit row in its transaction.
void BM_SetParamForn(benchmark::State& state) {
    TNetConnection c;
    Connect(c);
    nlohmann::json packet = Packet(c, "000008");
    nlohmann::json row = packet["rows"][0];
    size_t flag = 0;
    for (size_t i = 0; i < packet["fields"].size(); ++i)
        if (packet["fields"][i]["name"] == "IDSIMPLESNACIONAL") flag = i;
    for (auto _ : state) {
        const std::string next = row[flag] == "S" ? "N" : "S";
        nlohmann::json delta = {
            {"fields", packet["fields"]},
            {"changes",
             {{{"op", "update"}, {"old", row}, {"new", {{"IDSIMPLESNACIONAL", next}}}}}}};
        Variant answer = c.Call("SetParamForn", {Variant::Json(delta), Variant(false)});
        benchmark::DoNotOptimize(answer);
        row[flag] = next;
    }
    state.SetLabel("um campo, gravação e auditoria");
}
BENCHMARK(BM_SetParamForn)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
