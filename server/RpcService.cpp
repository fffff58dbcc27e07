#include "RpcService.h"

#include "Database.h"
#include "JsonRpc.h"
#include "ParamRecord.h"
#include "RpcError.h"
#include "host/rtl/Utf8.h"

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
constexpr size_t kIdempotencyKeyMaxLength = 100;

std::string LocalTime(const char* format) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

bool ValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
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

// A key that a client made for one save: a random value written as text (32 hex digits from
// our client); anything visible and short is accepted from others.
void CheckIdempotencyKey(const std::string& key) {
    if (key.empty() || key.size() > kIdempotencyKeyMaxLength)
        throw RpcError(kRpcInvalidRequest, "Cabeçalho Idempotency-Key deve ter de 1 a " +
                                               std::to_string(kIdempotencyKeyMaxLength) +
                                               " caracteres.");
    for (unsigned char c : key)
        if (c < 0x21 || c > 0x7E)
            throw RpcError(kRpcInvalidRequest,
                           "Cabeçalho Idempotency-Key inválido: use apenas letras, dígitos e "
                           "sinais ASCII visíveis.");
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
    return DumpJson(
        json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

void RpcService::Handle(HttpRequestInfo request, std::function<void(HttpReply)> done) {
    const std::string prefix = "/rpc/";
    if (!ValidUtf8(request.target)) {
        done({400,
              ErrorBody(nullptr, kRpcInvalidRequest,
                        "Requisição HTTP malformada: o destino não é um texto UTF-8 válido."),
              ""});
        return;
    }
    // HEAD and CONNECT answers carry no body: a HEAD answer must not have one, and after
    // CONNECT a body would be taken for tunnelled data.
    if (request.method == "HEAD" || request.method == "CONNECT") {
        done({405, "", "GET, POST"});
        return;
    }
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
        done({200, DumpJson(json{{"module", module->Name()}, {"methods", module->Methods()}}), ""});
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
        done(Invoke(*module, request));
        guard.reset();
    });
}

HttpReply RpcService::Invoke(RemoteModule& module, const HttpRequestInfo& request) {
    const auto start = std::chrono::steady_clock::now();
    json id = nullptr;
    bool notification = false;
    CallContext ctx{db_, request.operatorName, "", "", "", false, request.idempotencyKey};
    HttpReply reply;
    CallRecord record;
    record.requestId = request.requestId;
    record.module = module.Name();
    try {
        RpcCall call = DecodeRpcCall(request.body, id);
        record.method = call.method;
        if (ctx.operatorName) {
            if (!ValidUtf8(*ctx.operatorName) || ControlCharacterPosition(*ctx.operatorName))
                throw RpcError(kRpcInvalidRequest, "Cabeçalho X-Operator com texto inválido.");
            if (Utf8Length(*ctx.operatorName) > kOperatorMaxLength)
                throw RpcError(kRpcInvalidRequest, "Cabeçalho X-Operator excede " +
                                                       std::to_string(kOperatorMaxLength) +
                                                       " caracteres.");
            if (ctx.operatorName->empty()) ctx.operatorName.reset();
        }
        if (ctx.idempotencyKey) CheckIdempotencyKey(*ctx.idempotencyKey);
        notification = call.notification;
        ctx.today = fixedToday_ ? *fixedToday_ : LocalTime("%Y-%m-%d");
        ctx.now = ctx.today + LocalTime(" %H:%M:%S");
        json result = module.Call(call.method, call.params, ctx);
        if (result.is_array() && result.size() > 1 && result[0] == "N") {
            record.outcome = CallOutcome::Refused;
            if (result[1].is_string()) record.message = result[1].get<std::string>();
        }
        if (ctx.replayed) record.message = "repetição: resposta guardada para a chave";
        json answer = json::object(); // moved in, not copied: the packet is the bulk of it
        answer["jsonrpc"] = "2.0";
        answer["id"] = std::move(id);
        answer["result"] = std::move(result);
        reply.body = DumpJson(answer);
    } catch (const RpcError& e) {
        record.outcome = OutcomeOfCode(e.Code());
        record.code = e.Code();
        // What a library said stays in the log, after the text the client got.
        record.message = e.what();
        if (!e.Detail().empty()) record.message += " [" + e.Detail() + "]";
        reply.body = ErrorBody(id, e.Code(), e.what());
    } catch (const std::exception& e) {
        record.outcome = CallOutcome::InternalError;
        record.code = kRpcInternalError;
        record.message = e.what(); // for the log only
        reply.body = ErrorBody(id, kRpcInternalError, "Erro interno do servidor de aplicação.");
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
