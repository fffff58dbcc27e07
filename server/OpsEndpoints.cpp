#include "OpsEndpoints.h"

#include "Database.h"
#include "Metrics.h"
#include "RpcError.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <nlohmann/json.hpp>
#include <soci/soci.h>

using nlohmann::json;

namespace {

std::string Path(const std::string& target) {
    return target.substr(0, target.find('?'));
}

HttpReply Json(unsigned status, const json& body) {
    HttpReply reply{status, body.dump(), ""};
    reply.headers.push_back({"Cache-Control", "no-store"});
    return reply;
}

} // namespace

OpsEndpoints::OpsEndpoints(Metrics& metrics, Database& db, boost::asio::io_context& io)
    : metrics_(metrics), db_(db), io_(io) {}

OpsEndpoints::~OpsEndpoints() {
    Join();
}

void OpsEndpoints::Join() {
    checker_.join();
}

bool OpsEndpoints::Serves(const std::string& target) {
    const std::string path = Path(target);
    return path == "/healthz" || path == "/readyz" || path == "/metrics";
}

void OpsEndpoints::Handle(const HttpRequestInfo& request, std::function<void(HttpReply)> done) {
    const std::string path = Path(request.target);
    if (request.method != "GET") {
        HttpReply reply = Json(405, {{"status", "erro"},
                                     {"message", "Método HTTP " + request.method +
                                                     " não aceito em " + path + "; use GET."}});
        reply.allow = "GET";
        done(std::move(reply));
        return;
    }
    if (path == "/healthz") {
        done(Json(200, {{"status", "ok"}}));
        return;
    }
    if (path == "/metrics") {
        HttpReply reply{200, metrics_.Render(), ""};
        reply.contentType = "text/plain; version=0.0.4; charset=utf-8";
        reply.headers.push_back({"Cache-Control", "no-store"});
        done(std::move(reply));
        return;
    }
    {
        std::lock_guard lock(waitingMutex_);
        waiting_.push_back(std::move(done));
        if (waiting_.size() > 1) return; // a check is already running
    }
    auto guard = boost::asio::make_work_guard(io_);
    boost::asio::post(checker_, [this, guard = std::move(guard)]() mutable {
        CheckDatabase();
        guard.reset();
    });
}

void OpsEndpoints::CheckDatabase() {
    HttpReply reply;
    std::string why;
    try {
        // Reachable, with its schema, and taking writes: else every save would fail.
        const std::string problem = db_.WriteProblem();
        if (!problem.empty()) why = "O banco de dados não aceita gravações: " + problem;
    } catch (const RpcError& e) {
        // The operator's probe: what the database said is the point here.
        why = e.Detail().empty() ? std::string(e.what()) : std::string(e.what()) + " " + e.Detail();
    } catch (const std::exception& e) {
        why = e.what();
    }
    const bool probeFailed = !why.empty();
    if (!probeFailed) {
        // The calls that failed while the probe failed too failed for its reason: once the
        // database answers the probe again, only their failures since then count.
        if (probeFailed_) db_.ForgetCallFailures();
        // Answering the probe is not enough when the calls themselves fail on the database.
        const std::string calls = db_.CallProblem();
        if (!calls.empty()) why = "O banco de dados falha nas chamadas: " + calls;
    }
    probeFailed_ = probeFailed;
    reply = why.empty() ? Json(200, {{"status", "ok"}})
                        : Json(503, {{"status", "indisponível"}, {"message", why}});
    // The log says when readiness changes and why, not at every probe.
    const bool ready = why.empty();
    if (readinessLog_ && (ready != ready_ || (!ready && why != notReadyWhy_)))
        readinessLog_(ready, why);
    ready_ = ready;
    notReadyWhy_ = why;
    boost::asio::post(io_, [this, reply = std::move(reply)] {
        std::vector<std::function<void(HttpReply)>> waiting;
        {
            std::lock_guard lock(waitingMutex_);
            waiting.swap(waiting_);
        }
        for (auto& done : waiting)
            done(reply);
    });
}
