#include "LoadDriver.h"

#include "net/NetConnection.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

enum Phase { Warming, Measuring, Done };

struct Tally {
    std::vector<double> loads, saves;
    long conflicts = 0, refusals = 0;
    std::string failure;
};

// The server's answer to a save whose original no longer matches the stored row.
bool IsConflict(const std::exception& e) {
    return std::string(e.what()).rfind("Registro alterado por outro usuário", 0) == 0;
}

class Client {
public:
    Client(const LoadPlan& plan, int index, std::atomic<int>& phase, Tally& tally)
        : plan_(plan), code_(plan.suppliers[static_cast<size_t>(index) % plan.suppliers.size()]),
          phase_(phase), tally_(tally) {
        c_.ServerName = "Kxf27400.rdmParamForne";
        c_.Host = "127.0.0.1";
        c_.Port = plan.ports[static_cast<size_t>(index) % plan.ports.size()];
    }

    // Connects and makes the first call, which signs the connection in.
    void Open() {
        c_.SetConnected(true);
        Load();
    }

    void Run() {
        bool saveNext = false;
        while (phase_.load(std::memory_order_relaxed) != Done) {
            const bool saving = plan_.saves && saveNext && !row_.is_null();
            const Clock::time_point start = Clock::now();
            const bool ok = saving ? Save() : Load();
            const Clock::time_point end = Clock::now();
            if (phase_.load(std::memory_order_relaxed) != Measuring) {
                saveNext = !saving;
                continue;
            }
            const double us = std::chrono::duration<double, std::micro>(end - start).count();
            (saving ? tally_.saves : tally_.loads).push_back(us);
            if (!ok) ++(saving ? tally_.conflicts : tally_.refusals);
            saveNext = !saving;
        }
    }

private:
    // false: the supplier was not found.
    bool Load() {
        const Variant answer = c_.Call("GetParamForn", {Variant(String(code_))});
        if (!answer.IsArray() || answer[0].AsString() != "S") {
            row_ = nullptr;
            return false;
        }
        const nlohmann::json& packet = answer[1].AsJson();
        if (fields_.is_null()) {
            fields_ = packet.at("fields");
            for (size_t i = 0; i < fields_.size(); ++i)
                if (fields_[i].at("name") == "NRDIASBLOQNFFOR") days_ = i;
            if (days_ == fields_.size()) throw std::runtime_error("pacote sem NRDIASBLOQNFFOR");
        }
        row_ = packet.at("rows").at(0);
        return true;
    }

    // The row just loaded with its days changed. false: a conflict or a refusal.
    bool Save() {
        const nlohmann::json& days = row_[days_];
        const int next = days.is_number() ? (static_cast<int>(days.get<double>()) + 1) % 90 : 1;
        nlohmann::json delta = {
            {"fields", fields_},
            {"changes", {{{"op", "update"}, {"old", row_}, {"new", {{"NRDIASBLOQNFFOR", next}}}}}}};
        try {
            const Variant answer =
                c_.Call("SetParamForn", {Variant::Json(std::move(delta)), Variant(false)});
            return answer.IsArray() && answer[0].AsString() == "S";
        } catch (const ENetOutcomeUnknown&) {
            throw;
        } catch (const std::exception& e) {
            if (!IsConflict(e)) throw;
            return false;
        }
    }

    const LoadPlan& plan_;
    const std::string code_;
    std::atomic<int>& phase_;
    Tally& tally_;
    TNetConnection c_;
    nlohmann::json fields_, row_;
    size_t days_ = 0;
};

} // namespace

LoadResult DriveLoad(const LoadPlan& plan) {
    LoadResult result;
    if (plan.ports.empty() || plan.suppliers.empty() || plan.clients < 1) {
        result.failure = "plano de carga sem servidores, fornecedores ou clientes";
        return result;
    }
    std::atomic<int> phase{Warming}, opened{0};
    std::atomic<bool> failed{false};
    std::vector<Tally> tallies(static_cast<size_t>(plan.clients));
    std::vector<std::thread> threads;
    for (int i = 0; i < plan.clients; ++i)
        threads.emplace_back([&, i] {
            Tally& tally = tallies[static_cast<size_t>(i)];
            bool counted = false;
            try {
                Client client(plan, i, phase, tally);
                client.Open();
                ++opened;
                counted = true;
                client.Run();
            } catch (const std::exception& e) {
                tally.failure = e.what();
                failed = true;
                if (!counted) ++opened;
            }
        });
    const auto wait = [&](double seconds) {
        const Clock::time_point until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                           std::chrono::duration<double>(seconds));
        while (!failed && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    while (!failed && opened < plan.clients)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    wait(plan.warmupSeconds);
    const Clock::time_point start = Clock::now();
    phase = Measuring;
    wait(plan.seconds);
    phase = Done;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (std::thread& t : threads)
        t.join();
    for (Tally& t : tallies) {
        result.loadUs.insert(result.loadUs.end(), t.loads.begin(), t.loads.end());
        result.saveUs.insert(result.saveUs.end(), t.saves.begin(), t.saves.end());
        result.conflicts += t.conflicts;
        result.refusals += t.refusals;
        if (result.failure.empty() && !t.failure.empty()) result.failure = t.failure;
    }
    return result;
}

double Percentile(std::vector<double> samples, double q) {
    if (samples.empty()) return 0;
    const size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(samples.size())));
    const auto at =
        samples.begin() + static_cast<long>(std::clamp<size_t>(rank, 1, samples.size()) - 1);
    std::nth_element(samples.begin(), at, samples.end());
    return *at;
}

void ReportLoad(benchmark::State& state, const LoadResult& result) {
    if (!result.failure.empty()) {
        state.SkipWithError(("chamada falhou: " + result.failure).c_str());
        return;
    }
    std::vector<double> all = result.loadUs;
    all.insert(all.end(), result.saveUs.begin(), result.saveUs.end());
    state.counters["calls_per_s"] = result.PerSecond();
    state.counters["p50_us"] = Percentile(all, 0.50);
    state.counters["p99_us"] = Percentile(all, 0.99);
    state.counters["load_p50_us"] = Percentile(result.loadUs, 0.50);
    state.counters["load_p99_us"] = Percentile(result.loadUs, 0.99);
    if (!result.saveUs.empty()) {
        state.counters["save_p50_us"] = Percentile(result.saveUs, 0.50);
        state.counters["save_p99_us"] = Percentile(result.saveUs, 0.99);
    }
    state.counters["conflicts"] = static_cast<double>(result.conflicts);
    state.counters["refusals"] = static_cast<double>(result.refusals);
}
