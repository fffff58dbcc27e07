#include "RpcService.h"

#include "Database.h"
#include "JsonRpc.h"
#include "Operators.h"
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
// A request body larger than this goes to a worker undecoded: decoding it would hold up the
// network thread.
constexpr size_t kQuickBodyMax = 64 << 10;

std::string LocalTime(const char* format) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
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

const char* kNoSession =
    "Sessão ausente, inválida ou expirada: entre novamente com operador e senha.";
const char* kWrongLogin = "Operador ou senha incorretos.";

// The token of an "Authorization: Bearer <token>" header, or "".
std::string BearerToken(const std::string& header) {
    const std::string scheme = "bearer ";
    if (header.size() <= scheme.size()) return "";
    for (size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(header[i])) != scheme[i]) return "";
    std::string token = header.substr(scheme.size());
    while (!token.empty() && token.front() == ' ')
        token.erase(token.begin());
    while (!token.empty() && token.back() == ' ')
        token.pop_back();
    return token;
}

HttpReply Unauthorized(const nlohmann::json& id, int code, const std::string& message) {
    HttpReply reply{401, RpcService::ErrorBody(id, code, message), ""};
    reply.headers.push_back({"WWW-Authenticate", "Bearer realm=\"appserver\""});
    return reply;
}

CallOutcome OutcomeOfCode(int code) {
    switch (code) {
    case kRpcUnauthorized:
    case kRpcLoginFailed:
    case kRpcThrottled:
        return CallOutcome::Unauthorized;
    case kRpcRefused:
        return CallOutcome::Refused;
    case kRpcConflict:
        return CallOutcome::Conflict;
    case kRpcDatabaseFailure:
    case kRpcOutcomeUnknown:
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

std::string RpcService::HttpErrorBody(unsigned status, const std::string& message) {
    return ErrorBody(nullptr, status < 500 ? kRpcInvalidRequest : kRpcInternalError, message);
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
    const bool sessionModule = target == prefix + kSessionModule;
    if (!module && !sessionModule) {
        const std::string what =
            target.compare(0, prefix.size(), prefix) == 0
                ? "Módulo remoto não encontrado: " + target.substr(prefix.size())
                : "Recurso não encontrado: " + target;
        done({404, ErrorBody(nullptr, kRpcMethodNotFound, what + "."), ""});
        return;
    }
    if (request.method == "GET" && sessionModule) {
        done({200,
              DumpJson(json{{"module", kSessionModule},
                            {"methods", SessionMethods()},
                            {"auth", auth_.required}}),
              ""});
        return;
    }
    if (request.method == "GET") {
        const std::string info =
            DumpJson(json{{"module", module->Name()}, {"methods", module->Methods()}});
        if (!auth_.required) {
            done({200, info, ""});
            return;
        }
        // Even the list of methods needs a session; looking it up reads the database.
        Dispatch(
            true,
            [this, info, authorization = request.Header("Authorization").value_or("")] {
                try {
                    return SessionOf(authorization)
                               ? HttpReply{200, info, ""}
                               : Unauthorized(nullptr, kRpcUnauthorized, kNoSession);
                } catch (const RpcError& e) {
                    return HttpReply{503, ErrorBody(nullptr, e.Code(), e.what()), ""};
                }
            },
            std::move(done));
        return;
    }
    if (request.method != "POST") {
        done({405,
              ErrorBody(nullptr, kRpcInvalidRequest,
                        "Método HTTP " + request.method + " não aceito; use POST ou GET."),
              "GET, POST"});
        return;
    }
    Request call{std::move(request.body),
                 std::move(request.remoteAddress),
                 RequestId(request.Header("X-Request-Id").value_or("")),
                 request.Header("Authorization").value_or(""),
                 request.Header("X-Operator"),
                 request.Header("Idempotency-Key"),
                 std::nullopt,
                 nullptr,
                 nullptr};
    if (observer_) observer_->CallStarted();
    // Decoded here only to tell a quick call, and only when the body is small.
    bool quick = false;
    if (inlineBelow_ > 0 && call.body.size() <= kQuickBodyMax) {
        try {
            call.call = DecodeRpcCall(call.body, call.faultId);
            quick = module ? module->Quick(call.call->method) : call.call->method == "Logout";
        } catch (const std::exception&) {
            call.callFault = std::current_exception();
            quick = true; // an answer of refusal
        }
    }
    auto shared = std::make_shared<Request>(std::move(call));
    Dispatch(
        quick,
        [this, module, shared] {
            return module ? Invoke(*module, *shared) : InvokeSession(*shared);
        },
        std::move(done));
}

void RpcService::Dispatch(bool quick, std::function<HttpReply()> run,
                          std::function<void(HttpReply)> done) {
    const bool here = running_.fetch_add(1, std::memory_order_acq_rel) < inlineBelow_ && quick;
    if (here) {
        HttpReply reply = run();
        running_.fetch_sub(1, std::memory_order_acq_rel);
        done(std::move(reply));
        return;
    }
    // The work guard keeps io_context::run going until the answer is back on its thread.
    auto guard = boost::asio::make_work_guard(io_);
    boost::asio::post(pool_, [this, run = std::move(run), done = std::move(done),
                              guard = std::move(guard)]() mutable {
        HttpReply reply = run();
        running_.fetch_sub(1, std::memory_order_acq_rel);
        done(std::move(reply));
        guard.reset();
    });
}

RpcCall RpcService::Decode(Request& request, json& id) {
    if (request.callFault) {
        id = request.faultId;
        std::rethrow_exception(request.callFault);
    }
    if (request.call) {
        id = request.call->id;
        return std::move(*request.call);
    }
    return DecodeRpcCall(request.body, id);
}

HttpReply RpcService::Invoke(RemoteModule& module, Request& request) {
    const auto start = std::chrono::steady_clock::now();
    json id = nullptr;
    bool notification = false;
    CallContext ctx{db_, std::nullopt, "", "", "", false, request.idempotencyKey};
    HttpReply reply;
    CallRecord record;
    record.requestId = request.requestId;
    record.module = module.Name();
    std::string sessionDigest; // of a session known here, checked again in the call's transaction
    try {
        // Nothing of the request is run before its session is known: X-Operator is ignored then.
        if (auth_.required) {
            ctx.operatorName = CallOperator(request.authorization, sessionDigest);
            if (!ctx.operatorName) {
                record.address = request.remoteAddress;
                throw RpcError(kRpcUnauthorized, kNoSession);
            }
        } else {
            ctx.operatorName = request.operatorName;
        }
        RpcCall call = Decode(request, id);
        record.method = call.method;
        if (!auth_.required && ctx.operatorName) {
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
        if (!ctx.confirmedAfter.empty())
            record.message = "gravação confirmada pela chave depois de falha no COMMIT [" +
                             ctx.confirmedAfter + "]";
        if (record.message.empty()) record.message = ctx.note;
        if (!ctx.resultText.empty()) {
            reply.body.reserve(ctx.resultText.size() + 48);
            reply.body = "{\"id\":";
            reply.body += DumpJson(id);
            reply.body += ",\"jsonrpc\":\"2.0\",\"result\":";
            reply.body += ctx.resultText;
            reply.body += "}";
        } else {
            json answer = json::object(); // moved in, not copied: the packet is the bulk of it
            answer["jsonrpc"] = "2.0";
            answer["id"] = id; // kept: a session found ended afterwards answers with it
            answer["result"] = std::move(result);
            reply.body = DumpJson(answer);
        }
    } catch (const RpcError& e) {
        record.outcome = OutcomeOfCode(e.Code());
        record.code = e.Code();
        // What a library said stays in the log, after the text the client got.
        record.message = e.what();
        if (!e.Detail().empty()) record.message += " [" + e.Detail() + "]";
        reply = e.Code() == kRpcUnauthorized
                    ? Unauthorized(id, e.Code(), e.what())
                    : HttpReply{200, ErrorBody(id, e.Code(), e.what()), ""};
        // Not known whether it was carried out: a client repeats it with the same key.
        if (e.Code() == kRpcOutcomeUnknown) {
            reply.status = 503;
            reply.headers.push_back({"Retry-After", "1"});
        }
    } catch (const std::exception& e) {
        record.outcome = CallOutcome::InternalError;
        record.code = kRpcInternalError;
        record.message = e.what(); // for the log only
        reply.body = ErrorBody(id, kRpcInternalError, "Erro interno do servidor de aplicação.");
    }
    if (!sessionDigest.empty() && !SessionConfirmed(sessionDigest)) {
        record.outcome = CallOutcome::Unauthorized;
        record.code = kRpcUnauthorized;
        record.message = kNoSession;
        record.address = request.remoteAddress;
        ctx.applied = false;
        reply = Unauthorized(id, kRpcUnauthorized, kNoSession);
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
    if (notification && reply.status == 200) reply = {204, "", ""};
    reply.headers.push_back({"X-Request-Id", request.requestId});
    return reply;
}

std::optional<std::string> RpcService::SessionOf(const std::string& authorization) {
    const std::string token = BearerToken(authorization);
    if (token.empty()) return std::nullopt;
    return SessionOperator(db_, token);
}

std::optional<std::string> RpcService::CallOperator(const std::string& authorization,
                                                    std::string& digest) {
    const std::string token = BearerToken(authorization);
    if (!IsSessionToken(token)) return std::nullopt;
    const std::string key = TokenDigest(token);
    if (std::optional<std::string> name = sessionNames_.Find(key)) {
        // Checked again by the call's first statement, in its transaction: a session closed or
        // an operator disabled on any server is refused at once, without a round of its own.
        db_.SetPreamble([this, key, name](DbCall& db) {
            if (SessionOperatorOf(db, key) != name) {
                sessionNames_.Forget(key);
                throw RpcError(kRpcUnauthorized, kNoSession);
            }
        });
        digest = key;
        return name;
    }
    std::optional<std::string> name = SessionOperator(db_, token);
    if (name) sessionNames_.Put(key, *name);
    return name;
}

bool RpcService::SessionConfirmed(const std::string& digest) {
    // Still set: the call ran no statement, or the check failed and the call went on without
    // the database; it is made now.
    const Database::Preamble pending = db_.TakePreamble();
    if (!pending) return true;
    try {
        db_.Run([&](DbCall& db) -> json {
            pending(db);
            return nullptr;
        });
        return true;
    } catch (const RpcError& e) {
        if (e.Code() == kRpcUnauthorized) return false;
        sessionNames_.Forget(digest);
        return true; // the call's answer already tells of the database's failure
    }
}

void RpcService::RecountSessions() {
    try {
        openSessions_ = CountOpenSessions(db_);
    } catch (const RpcError&) {
    }
}

// Login(name, password) -> ["S", token, seconds the session lasts]; Logout() closes the
// request's session. A wrong name or password is one answer, whichever it was.
HttpReply RpcService::InvokeSession(Request& request) {
    const auto start = std::chrono::steady_clock::now();
    json id = nullptr;
    CallRecord record;
    record.requestId = request.requestId;
    record.module = kSessionModule;
    record.address = request.remoteAddress;
    HttpReply reply;
    try {
        RpcCall call = Decode(request, id);
        record.method = call.method;
        if (call.method == "Login") {
            const json& p = call.params;
            if (p.size() != 2 || !p[0].is_string() || !p[1].is_string())
                throw RpcError(kRpcInvalidParams, "Login espera dois parâmetros: o nome do "
                                                  "operador e a senha (textos).");
            const std::string name = p[0], password = p[1];
            const bool nameOk = OperatorNameProblem(name).empty();
            // From here on a failure is a login that failed, counted as such.
            record.login = LoginOutcome::InternalError;
            const auto now = LoginThrottle::Clock::now();
            if (const long long wait = throttle_.Wait(name, request.remoteAddress, now)) {
                record.login = LoginOutcome::Throttled;
                // A name is logged only when it is an operator's: someone who typed the
                // password into the name field must not find it in the log.
                if (nameOk && OperatorExists(db_, name)) record.operatorName = name;
                reply = {429,
                         ErrorBody(id, kRpcThrottled,
                                   "Muitas tentativas de entrada sem sucesso: aguarde " +
                                       std::to_string(wait) +
                                       (wait == 1 ? " segundo" : " segundos") +
                                       " e tente de novo."),
                         ""};
                reply.headers.push_back({"Retry-After", std::to_string(wait)});
                record.code = kRpcThrottled;
            } else {
                std::string token;
                const LoginResult r =
                    nameOk && password.size() <= kPasswordMax
                        ? OpenSession(db_, name, password, auth_.sessionSeconds, token)
                        : LoginResult::UnknownOperator;
                if (r != LoginResult::UnknownOperator) record.operatorName = name;
                if (r == LoginResult::Ok) {
                    throttle_.Succeeded(name, request.remoteAddress);
                    record.login = LoginOutcome::Ok;
                    RecountSessions();
                    reply.body =
                        DumpJson(json{{"jsonrpc", "2.0"},
                                      {"id", id},
                                      {"result", json::array({"S", token, auth_.sessionSeconds})}});
                } else {
                    throttle_.Failed(name, request.remoteAddress, LoginThrottle::Clock::now());
                    record.login = LoginOutcome::Wrong;
                    record.code = kRpcLoginFailed;
                    reply = Unauthorized(id, kRpcLoginFailed, kWrongLogin);
                }
            }
            if (record.code) {
                record.outcome = CallOutcome::Unauthorized;
                record.message = json::parse(reply.body)["error"]["message"];
            }
        } else if (call.method == "Logout") {
            if (const std::string token = BearerToken(request.authorization); !token.empty()) {
                record.operatorName = SessionOperator(db_, token);
                if (IsSessionToken(token)) sessionNames_.Forget(TokenDigest(token));
                CloseSession(db_, token);
                RecountSessions();
            }
            reply.body =
                DumpJson(json{{"jsonrpc", "2.0"}, {"id", id}, {"result", json::array({"S"})}});
        } else {
            throw RpcError(kRpcMethodNotFound, "Método " + call.method + " não existe no módulo " +
                                                   kSessionModule + ".");
        }
    } catch (const RpcError& e) {
        record.outcome = OutcomeOfCode(e.Code());
        record.code = e.Code();
        record.message = e.what();
        if (!e.Detail().empty()) record.message += " [" + e.Detail() + "]";
        if (record.login != LoginOutcome::None && e.Code() == kRpcDatabaseFailure)
            record.login = LoginOutcome::DatabaseError;
        reply = {e.Code() == kRpcOutcomeUnknown ? 503u : 200u, ErrorBody(id, e.Code(), e.what()),
                 ""};
    } catch (const std::exception& e) {
        record.outcome = CallOutcome::InternalError;
        record.code = kRpcInternalError;
        record.message = e.what();
        reply = {200, ErrorBody(id, kRpcInternalError, "Erro interno do servidor de aplicação."),
                 ""};
    }
    record.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (observer_) observer_->CallEnded(record);
    reply.headers.push_back({"X-Request-Id", request.requestId});
    return reply;
}
