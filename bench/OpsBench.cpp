// What every call pays for being watched: its counters and its log line. The line is formatted on
// the call's worker and handed to the log's writer thread; the writer writes to /dev/null here.
#include <benchmark/benchmark.h>

#include "AccessLog.h"
#include "CallSamples.h"
#include "Metrics.h"
#include "ModuleRegistry.h"
#include "RdmParamForne.h"

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

CallRecord SampleCall() {
    return ConflictingSave(
        "5f3a9c21-118", 0.00342,
        "Registro alterado por outro usuário. Recarregue o fornecedor e repita a alteração.");
}

const ModuleRegistry& Modules() {
    static ModuleRegistry modules = [] {
        ModuleRegistry m;
        m.Add(std::make_unique<RdmParamForne>());
        return m;
    }();
    return modules;
}

void BM_MetricsPerCall(benchmark::State& state) {
    static Metrics metrics(Modules());
    const CallRecord call = SampleCall();
    for (auto _ : state) {
        metrics.CallStarted();
        metrics.CallEnded(call);
    }
    state.SetLabel("contadores e histograma, sem trava");
}
BENCHMARK(BM_MetricsPerCall)->Threads(1)->Threads(4);

void BM_LogLinePerCall(benchmark::State& state) {
    static const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    static AccessLog log(devNull, 64 << 20);
    const CallRecord call = SampleCall();
    for (auto _ : state)
        log.Write(AccessLog::CallLine(call));
    if (state.thread_index() == 0) {
        log.Flush();
        state.SetLabel("formata e enfileira; perdidas " + std::to_string(log.Dropped()));
    }
}
BENCHMARK(BM_LogLinePerCall)->Threads(1)->Threads(4);

void BM_MetricsRender(benchmark::State& state) {
    Metrics metrics(Modules());
    metrics.CallEnded(SampleCall());
    size_t bytes = 0;
    for (auto _ : state)
        bytes = metrics.Render().size();
    state.SetLabel("GET /metrics, " + std::to_string(bytes) + " bytes");
}
BENCHMARK(BM_MetricsRender);

} // namespace

BENCHMARK_MAIN();
