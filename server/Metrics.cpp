#include "Metrics.h"

#include "ModuleRegistry.h"

#include <charconv>
#include <chrono>
#include <cmath>

namespace {

std::string Number(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
    char buf[40];
    const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr; // shortest exact form
    return std::string(buf, end);
}

std::string LabelValue(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

void Header(std::string& out, const std::string& name, const std::string& help, const char* type) {
    out += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

} // namespace

const char* OutcomeName(CallOutcome outcome) {
    switch (outcome) {
    case CallOutcome::Ok:
        return "ok";
    case CallOutcome::Refused:
        return "refused";
    case CallOutcome::Conflict:
        return "conflict";
    case CallOutcome::Invalid:
        return "invalid";
    case CallOutcome::DatabaseError:
        return "database_error";
    case CallOutcome::InternalError:
        return "internal_error";
    case CallOutcome::Unauthorized:
        return "unauthorized";
    }
    return "internal_error";
}

void LatencyHistogram::Observe(double seconds) {
    size_t i = 0;
    while (i < kBounds.size() && seconds > kBounds[i])
        ++i;
    buckets_[i].fetch_add(1, std::memory_order_relaxed);
    const double nanos = seconds > 0 ? seconds * 1e9 : 0;
    sumNanos_.fetch_add(static_cast<uint64_t>(nanos), std::memory_order_relaxed);
}

std::array<uint64_t, LatencyHistogram::kBounds.size() + 1> LatencyHistogram::Cumulative() const {
    std::array<uint64_t, kBounds.size() + 1> out{};
    uint64_t running = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        running += buckets_[i].load(std::memory_order_relaxed);
        out[i] = running;
    }
    return out;
}

double LatencyHistogram::Sum() const {
    return static_cast<double>(sumNanos_.load(std::memory_order_relaxed)) / 1e9;
}

Metrics::Metrics(const ModuleRegistry& modules,
                 const std::map<std::string, std::vector<std::string>>& ownModules) {
    unknownModule_.module = kOtherMethod;
    unknownModule_.method = kOtherMethod;
    std::map<std::string, std::vector<std::string>> all = ownModules;
    for (const std::string& module : modules.Names())
        all[module] = modules.Find(module)->Methods();
    for (auto& [module, methods] : all) {
        methods.push_back(kOtherMethod);
        for (const std::string& method : methods) {
            auto cells = std::make_unique<Cells>();
            cells->module = module;
            cells->method = method;
            index_[module][method] = cells.get();
            cells_.push_back(std::move(cells));
        }
    }
    startTime_ =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

Metrics::Cells& Metrics::CellsOf(const std::string& module, const std::string& method) {
    const auto m = index_.find(module);
    if (m == index_.end()) return unknownModule_;
    const auto c = m->second.find(method);
    return c != m->second.end() ? *c->second : *m->second.at(kOtherMethod);
}

void Metrics::CallEnded(const CallRecord& record) {
    inFlight_.fetch_sub(1, std::memory_order_relaxed);
    Cells& cells = CellsOf(record.module, record.method);
    cells.calls[static_cast<int>(record.outcome)].fetch_add(1, std::memory_order_relaxed);
    cells.latency.Observe(record.seconds);
    if (record.applied) saves_.fetch_add(1, std::memory_order_relaxed);
    if (record.login != LoginOutcome::None)
        logins_[static_cast<int>(record.login) - 1].fetch_add(1, std::memory_order_relaxed);
}

void Metrics::AddGauge(std::string name, std::string help, std::function<double()> read,
                       bool counter) {
    sampled_.push_back({std::move(name), std::move(help), std::move(read), counter});
}

std::string Metrics::Render() const {
    std::vector<const Cells*> all;
    for (const auto& c : cells_)
        all.push_back(c.get());
    bool unknownUsed = false;
    for (const auto& n : unknownModule_.calls)
        unknownUsed |= n.load(std::memory_order_relaxed) > 0;
    if (unknownUsed) all.push_back(&unknownModule_);

    auto labels = [](const Cells& c) {
        return "module=\"" + LabelValue(c.module) + "\",method=\"" + LabelValue(c.method) + "\"";
    };
    std::array<uint64_t, kCallOutcomeCount> byOutcome{};
    std::string out;
    out.reserve(8192);

    Header(out, "kx_rpc_calls_total",
           "Chamadas JSON-RPC atendidas, por módulo, método e resultado.", "counter");
    for (const Cells* c : all)
        for (int o = 0; o < kCallOutcomeCount; ++o) {
            const uint64_t n = c->calls[o].load(std::memory_order_relaxed);
            byOutcome[o] += n;
            out += "kx_rpc_calls_total{" + labels(*c) + ",outcome=\"" +
                   OutcomeName(static_cast<CallOutcome>(o)) + "\"} " + std::to_string(n) + "\n";
        }

    Header(out, "kx_rpc_call_duration_seconds",
           "Duração das chamadas JSON-RPC no servidor, em segundos.", "histogram");
    for (const Cells* c : all) {
        const auto cumulative = c->latency.Cumulative();
        const std::string l = labels(*c);
        for (size_t i = 0; i < cumulative.size(); ++i)
            out += "kx_rpc_call_duration_seconds_bucket{" + l + ",le=\"" +
                   (i < LatencyHistogram::kBounds.size() ? Number(LatencyHistogram::kBounds[i])
                                                         : std::string("+Inf")) +
                   "\"} " + std::to_string(cumulative[i]) + "\n";
        out += "kx_rpc_call_duration_seconds_sum{" + l + "} " + Number(c->latency.Sum()) + "\n";
        out += "kx_rpc_call_duration_seconds_count{" + l + "} " +
               std::to_string(cumulative.back()) + "\n";
    }

    auto single = [&out](const std::string& name, const std::string& help, const char* type,
                         double value) {
        Header(out, name, help, type);
        out += name + " " + Number(value) + "\n";
    };
    single("kx_rpc_calls_in_flight", "Chamadas JSON-RPC em execução.", "gauge",
           static_cast<double>(inFlight_.load(std::memory_order_relaxed)));
    single("kx_saves_total", "Gravações de parâmetros aplicadas no banco de dados.", "counter",
           static_cast<double>(saves_.load(std::memory_order_relaxed)));
    single("kx_conflicts_total",
           "Gravações recusadas porque o registro foi alterado por outro usuário.", "counter",
           static_cast<double>(byOutcome[static_cast<int>(CallOutcome::Conflict)]));
    single("kx_refusals_total", "Chamadas recusadas pelas regras de negócio.", "counter",
           static_cast<double>(byOutcome[static_cast<int>(CallOutcome::Refused)]));
    single("kx_database_errors_total", "Chamadas que terminaram em falha do banco de dados.",
           "counter", static_cast<double>(byOutcome[static_cast<int>(CallOutcome::DatabaseError)]));
    Header(out, "kx_logins_total", "Tentativas de entrada de operadores, por resultado.",
           "counter");
    const char* loginNames[kLoginOutcomeCount] = {"ok", "wrong", "throttled", "database_error",
                                                  "internal_error"};
    for (int i = 0; i < kLoginOutcomeCount; ++i)
        out += std::string("kx_logins_total{outcome=\"") + loginNames[i] + "\"} " +
               std::to_string(logins_[i].load(std::memory_order_relaxed)) + "\n";
    for (const Sampled& s : sampled_)
        single(s.name, s.help, s.counter ? "counter" : "gauge", s.read());
    single("kx_process_start_time_seconds", "Início do processo, em segundos desde 1970 (UTC).",
           "gauge", startTime_);
    Header(out, "kx_build_info", "Versão do servidor de aplicação.", "gauge");
    out += "kx_build_info{version=\"" + LabelValue(KX_VERSION) + "\"} 1\n";
    return out;
}
