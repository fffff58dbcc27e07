#include "RpcService.h"

#include "Database.h"
#include "ParamRecord.h"
#include "RpcError.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

using nlohmann::json;

namespace {

constexpr size_t kOperatorMaxLength = 40;

std::string LocalTime(const char* format) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

bool ValidUtf8(const std::string& s) {
    try {
        (void)json(s).dump(); // dump refuses ill-formed UTF-8
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

// The client's X-Request-Id when it is a plain token, else one of ours: a prefix drawn at start
// (so that restarts do not repeat ids) and a counter.
std::string RequestId(const std::string& given) {
    if (!given.empty() && given.size() <= 64 &&
        given.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                "-._:") == std::string::npos)
        return given;
    static const std::string prefix = [] {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", std::random_device{}());
        return std::string(buf);
    }();
    static std::atomic<uint64_t> counter{0};
    return prefix + "-" + std::to_string(counter.fetch_add(1, std::memory_order_relaxed) + 1);
}

CallOutcome OutcomeOfCode(int code) {
    switch (code) {
    case kRpcRefused:
        return CallOutcome::Refused;
    case kRpcConflict:
        return CallOutcome::Conflict;
    case kRpcDatabaseFailure:
        return CallOutcome::DatabaseError;
    case kRpcInternalError:
        return CallOutcome::InternalError;
    default:
        return CallOutcome::Invalid;
    }
}

} // namespace

RpcService::RpcService(ModuleRegistry& modules, Database& db, std::optional<std::string> fixedToday,
                       boost::asio::io_context& io, int workers)
    : modules_(modules), db_(db), fixedToday_(std::move(fixedToday)), io_(io),
      pool_(static_cast<size_t>(workers)) {}

RpcService::~RpcService() {
    Join();
}

void RpcService::Join() {
    pool_.join();
}

std::string RpcService::ErrorBody(const json& id, int code, const std::string& message) {
    return json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}}
        .dump();
}

void RpcService::Handle(HttpRequestInfo request, std::function<void(HttpReply)> done) {
    const std::string prefix = "/rpc/";
    std::string target = request.target.substr(0, request.target.find('?'));
    RemoteModule* module = nullptr;
    if (target.compare(0, prefix.size(), prefix) == 0)
        module = modules_.Find(target.substr(prefix.size()));
    if (!module) {
        const std::string what =
            target.compare(0, prefix.size(), prefix) == 0
                ? "Módulo remoto não encontrado: " + target.substr(prefix.size())
                : "Recurso não encontrado: " + target;
        done({404, ErrorBody(nullptr, kRpcMethodNotFound, what + "."), ""});
        return;
    }
    if (request.method == "GET") {
        done({200, json{{"module", module->Name()}, {"methods", module->Methods()}}.dump(), ""});
        return;
    }
    if (request.method != "POST") {
        done({405,
              ErrorBody(nullptr, kRpcInvalidRequest,
                        "Método HTTP " + request.method + " não aceito; use POST ou GET."),
              "GET, POST"});
        return;
    }
    request.requestId = RequestId(request.requestId);
    if (observer_) observer_->CallStarted();
    // The work guard keeps io_context::run going until the answer is back on its thread.
    auto guard = boost::asio::make_work_guard(io_);
    boost::asio::post(pool_, [this, module, request = std::move(request), done = std::move(done),
                              guard = std::move(guard)]() mutable {
        HttpReply reply = Invoke(*module, request);
        boost::asio::post(io_, [done = std::move(done), reply = std::move(reply)]() mutable {
            done(std::move(reply));
        });
        guard.reset();
    });
}

HttpReply RpcService::Invoke(RemoteModule& module, const HttpRequestInfo& request) {
    const auto start = std::chrono::steady_clock::now();
    json id = nullptr;
    bool notification = false;
    CallContext ctx{db_, request.operatorName, "", "", ""};
    HttpReply reply;
    CallRecord record;
    record.requestId = request.requestId;
    record.module = module.Name();
    try {
        json call;
        try {
            call = json::parse(request.body);
        } catch (const json::parse_error& e) {
            throw RpcError(kRpcParseError, "JSON malformado na requisição (posição " +
                                               std::to_string(e.byte) + ").");
        }
        if (call.is_array())
            throw RpcError(kRpcInvalidRequest, "Chamadas em lote não são aceitas: envie uma "
                                               "chamada por requisição.");
        if (!call.is_object())
            throw RpcError(kRpcInvalidRequest, "A requisição deve ser um objeto JSON-RPC.");
        if (auto it = call.find("id"); it != call.end()) {
            if (it->is_string() || it->is_number() || it->is_null())
                id = *it;
            else
                throw RpcError(kRpcInvalidRequest, "Identificador (id) da chamada inválido.");
        }
        if (call.value("jsonrpc", json()) != "2.0")
            throw RpcError(kRpcInvalidRequest, "A requisição deve declarar \"jsonrpc\": \"2.0\".");
        auto method = call.find("method");
        if (method == call.end() || !method->is_string())
            throw RpcError(kRpcInvalidRequest, "A requisição não traz o nome do método.");
        record.method = method->get<std::string>();
        json params = json::array();
        if (auto p = call.find("params"); p != call.end()) {
            if (p->is_object())
                throw RpcError(kRpcInvalidParams, "Os parâmetros devem ser posicionais (lista).");
            if (!p->is_array())
                throw RpcError(kRpcInvalidRequest, "Parâmetros (params) devem ser uma lista.");
            params = *p;
        }
        if (ctx.operatorName) {
            if (!ValidUtf8(*ctx.operatorName))
                throw RpcError(kRpcInvalidRequest, "Cabeçalho X-Operator com texto inválido.");
            if (Utf8Length(*ctx.operatorName) > kOperatorMaxLength)
                throw RpcError(kRpcInvalidRequest, "Cabeçalho X-Operator excede " +
                                                       std::to_string(kOperatorMaxLength) +
                                                       " caracteres.");
            if (ctx.operatorName->empty()) ctx.operatorName.reset();
        }
        notification = !call.contains("id");
        ctx.today = fixedToday_ ? *fixedToday_ : LocalTime("%Y-%m-%d");
        ctx.now = ctx.today + LocalTime(" %H:%M:%S");
        json result = module.Call(method->get<std::string>(), params, ctx);
        if (result.is_array() && result.size() > 1 && result[0] == "N") {
            record.outcome = CallOutcome::Refused;
            if (result[1].is_string()) record.message = result[1].get<std::string>();
        }
        reply.body = json{{"jsonrpc", "2.0"}, {"id", id}, {"result", result}}.dump();
    } catch (const RpcError& e) {
        record.outcome = OutcomeOfCode(e.Code());
        record.code = e.Code();
        record.message = e.what();
        reply.body = ErrorBody(id, e.Code(), e.what());
    } catch (const std::exception& e) {
        record.outcome = CallOutcome::InternalError;
        record.code = kRpcInternalError;
        record.message = e.what();
        reply.body = ErrorBody(id, kRpcInternalError,
                               std::string("Erro interno do servidor de aplicação: ") + e.what());
    }
    record.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    record.supplier = ctx.subject;
    record.applied = ctx.applied;
    // An operator name that failed its checks is not repeated into the log.
    if (ctx.operatorName && ValidUtf8(*ctx.operatorName) &&
        Utf8Length(*ctx.operatorName) <= kOperatorMaxLength)
        record.operatorName = ctx.operatorName;
    if (observer_) observer_->CallEnded(record);
    if (notification) reply = {204, "", ""};
    reply.headers.push_back({"X-Request-Id", request.requestId});
    return reply;
}
