#include "net/NetConnection.h"

#include "vcl/FormReader.h"

#include "rtl/JsonWriter.h"
#include "rtl/ScopeGuard.h"

#include "net/Brannox.h"

#include "net/TcpTransport.h"
#include "net/TlsTransport.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Pauses before each new attempt of a call whose answer did not arrive.
constexpr int kRetryPauseMs[] = {150, 300, 600, 1200};

std::mutex settingsMutex;
String operatorName;
String password;
String sessionToken;
String caFile;
bool insecureAllowed = false;
int defaultConnectMs = 5000;
int defaultCallMs = 30000;
TNetTransportFactory transportFactory;
TNetConnection::TLoginPrompt loginPrompt;
bool prompting = false; // the prompt runs on the user-interface thread, like every call

std::unique_ptr<TNetTransport> MakeTransport(const String& host, int port, bool tls) {
    TNetTransportFactory factory;
    String ca;
    bool insecure = false;
    {
        std::lock_guard lock(settingsMutex);
        factory = transportFactory;
        ca = caFile;
        insecure = insecureAllowed;
    }
    if (factory)
        if (auto transport = factory(host, port)) return transport;
    if (tls) return std::make_unique<TTlsTransport>(host, port, TNetConnection::AnswerLimit, ca);
    return std::make_unique<TTcpTransport>(host, port, TNetConnection::AnswerLimit, insecure);
}

const char* kSessionModule = "Sessao";

// Answers up to this size leave their storage to the next call on the connection.
constexpr size_t kKeptAnswerBytes = 256u << 10;

String WhereOf(const String& host, int port) {
    return host + ":" + std::to_string(port);
}

// The message of a JSON-RPC error answer, or "" when the body holds none.
String ErrorMessage(const String& body) {
    try {
        const nlohmann::json answer = ParseJsonLimited(body);
        if (answer.is_object() && answer.contains("error") && answer["error"].is_object() &&
            answer["error"].value("message", nlohmann::json()).is_string())
            return answer["error"]["message"].get<String>();
    } catch (const Exception&) {
    }
    return "";
}

// 128 random bits as text: the key of one call, kept across its retries. The generator is
// seeded once per thread from the system's entropy (a read of it per call costs system calls).
String NewCallKey() {
    static thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    static const char* hex = "0123456789abcdef";
    String key(32, '0');
    for (int i = 0; i < 2; ++i) {
        uint64_t r = generator();
        for (int k = 0; k < 16; ++k, r >>= 4)
            key[static_cast<size_t>(i) * 16 + static_cast<size_t>(k)] = hex[r & 15];
    }
    return key;
}

// A method's name as a JSON string: a plain name as it stands, any other as the JSON library
// writes it (escapes, and a refusal of what is not UTF-8).
String MethodText(const String& method) {
    for (const char c : method)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '.'))
            return nlohmann::json(method).dump();
    return '"' + method + '"';
}

// A value's wire form (Variant::ToJson) as text: a document is written from the tree it holds,
// not from a copy of it (a save's delta holds the whole packet).
void AppendParam(String& out, const Variant& v) {
    if (v.VarType() == varJson) return AppendJson(out, v.AsJson());
    if (v.IsArray()) {
        out += '[';
        for (size_t i = 0; i < v.ArrayLength(); ++i) {
            if (i) out += ',';
            AppendParam(out, v[i]);
        }
        out += ']';
        return;
    }
    AppendJson(out, v.ToJson());
}

// The positional arguments as the JSON array "params".
void AppendParams(String& out, const std::vector<Variant>& args) {
    out += '[';
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) out += ',';
        AppendParam(out, args[i]);
    }
    out += ']';
}

} // namespace

struct TNetConnection::Impl {
    std::unique_ptr<TNetTransport> transport;
    bool wanted = false;    // Connected was set true: calls open what they need
    bool connected = false; // the module answered on the current address
    String host;
    int port = 0;
    bool tls = false; // an https:// server address
    std::atomic<long long> nextId{0};

    // The last call's answer: its body's storage is used again by the next call's.
    TNetAnswer lastAnswer;
    String paramsText; // the arguments of the call being made

    String Where() const { return WhereOf(host, port); }

    // A large answer's storage is given back rather than kept for the next call.
    void KeepAnswerSmall() {
        if (lastAnswer.body.capacity() > kKeptAnswerBytes) String().swap(lastAnswer.body);
    }

    void Close() { transport.reset(); }

    // The transport for the current address, chosen again at each opening: the address may
    // have moved to another server since.
    void Open(Clock::time_point deadline, int connectMs) {
        transport = MakeTransport(host, port, tls);
        try {
            transport->Open(deadline, connectMs);
        } catch (...) {
            transport.reset();
            throw;
        }
    }

    bool Stale() const { return !transport || transport->Stale(); }

    // The operator and the session of the moment are set on the request, and the answer is
    // written over `res`.
    void Exchange(TNetRequest& request, Clock::time_point deadline, TNetAnswer& res) {
        {
            std::lock_guard lock(settingsMutex);
            request.operatorName = operatorName;
            request.token = sessionToken;
        }
        // Both go as header values: a line break would smuggle another header or request.
        if (request.operatorName.find_first_of(String("\r\n\0", 3)) != String::npos)
            throw TNetTransportError{"O nome do operador contém quebra de linha ou caractere nulo.",
                                     false, false};
        if (request.token.find_first_of(String("\r\n\0", 3)) != String::npos)
            throw TNetTransportError{"A sessão recebida do servidor de aplicação é inválida.",
                                     false, false};
        transport->ExchangeInto(request, deadline, res);
    }

    TNetAnswer Exchange(TNetRequest request, Clock::time_point deadline) {
        TNetAnswer res;
        Exchange(request, deadline, res);
        return res;
    }

    // Signs in with the operator's password on this connection and keeps the session for every
    // connection. False when there is no password to sign in with; a refusal raises
    // ENetLoginFailed with the server's message.
    bool Login(Clock::time_point deadline) {
        String op, pw;
        {
            std::lock_guard lock(settingsMutex);
            op = operatorName;
            pw = password;
        }
        if (pw.empty()) return false;
        const String body =
            nlohmann::json{{"jsonrpc", "2.0"}, {"id", 0}, {"method", "Login"}, {"params", {op, pw}}}
                .dump();
        TNetRequest request;
        request.post = true;
        request.target = String("/rpc/") + kSessionModule;
        request.body = body;
        const TNetAnswer res = Exchange(std::move(request), deadline);
        nlohmann::json answer;
        try {
            answer = ParseJsonLimited(res.body);
        } catch (const Exception&) {
        }
        const nlohmann::json result =
            answer.is_object() ? answer.value("result", nlohmann::json()) : nlohmann::json();
        if (res.status == 200 && result.is_array() && result.size() >= 2 && result[0] == "S" &&
            result[1].is_string()) {
            std::lock_guard lock(settingsMutex);
            sessionToken = result[1].get<String>();
            return true;
        }
        if (answer.is_object() && answer.contains("error") && answer["error"].is_object() &&
            answer["error"].value("message", nlohmann::json()).is_string())
            throw ENetLoginFailed(answer["error"]["message"].get<String>());
        throw ENetLoginFailed("O servidor de aplicação " + Where() +
                              " recusou a entrada do operador (HTTP " + std::to_string(res.status) +
                              ").");
    }

    // One exchange; a 401 (no session, or it ended) signs in once and repeats the request. When
    // the kept password cannot sign in, the operator is asked (when a prompt is set); the time
    // that takes moves the deadline on.
    void Authorized(TNetRequest& request, Clock::time_point& deadline, TNetAnswer& res) {
        Exchange(request, deadline, res);
        if (res.status != 401) return;
        if (Stale()) Open(deadline, TNetConnection::DefaultConnectTimeout());
        std::exception_ptr refused;
        String reason;
        try {
            if (Login(deadline)) {
                if (Stale()) Open(deadline, TNetConnection::DefaultConnectTimeout());
                return Exchange(request, deadline, res);
            }
            reason = ErrorMessage(res.body);
        } catch (const ENetLoginFailed& e) {
            refused = std::current_exception();
            reason = e.Message();
        }
        TNetConnection::TLoginPrompt prompt;
        {
            std::lock_guard lock(settingsMutex);
            prompt = loginPrompt;
        }
        bool signedIn = false;
        if (prompt && !prompting) {
            TScopedValue<bool> asking(prompting, true);
            const auto asked = Clock::now();
            signedIn = prompt(reason);
            deadline += Clock::now() - asked;
        }
        if (!signedIn) {
            if (refused) std::rethrow_exception(refused);
            return;
        }
        if (Stale()) Open(deadline, TNetConnection::DefaultConnectTimeout());
        Exchange(request, deadline, res);
    }
};

TNetConnection::TNetConnection(TComponent* owner)
    : TComponent(owner), impl_(std::make_unique<Impl>()) {}

bool TNetConnection::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "ServerName")
        ServerName = r.Str(p);
    else if (n == "Host")
        Host = r.Str(p);
    else if (n == "Port")
        Port = r.Int(p);
    else if (n == "ThrowException")
        ThrowException = r.Bool(p);
    else if (n == "ConnectTimeout")
        ConnectTimeout = r.Int(p);
    else if (n == "CallTimeout")
        CallTimeout = r.Int(p);
    else if (n == "BeforeConnect") {
        TNotifyEvent ev = r.Method<TNotifyEvent>(p);
        BeforeConnect = [ev](TNetConnection* sender) { ev(sender); };
    } else
        return TComponent::ReadProperty(p, r);
    return true;
}

namespace {
struct NetRegistrar {
    NetRegistrar() { RegisterComponentClass<TNetConnection>("TNetConnection"); }
} netRegistrar;
} // namespace

TNetConnection::~TNetConnection() {
    impl_->Close();
}

bool TNetConnection::Connected() const {
    return impl_->connected;
}

void TNetConnection::SetConnected(bool on) {
    if (!on) {
        impl_->Close();
        impl_->connected = false;
        impl_->wanted = false;
        return;
    }
    impl_->wanted = true;
    if (impl_->connected) return;
    try {
        const int connectMs = ConnectTimeout ? ConnectTimeout : DefaultConnectTimeout();
        auto deadline =
            Clock::now() +
            milliseconds(connectMs + (CallTimeout ? CallTimeout : DefaultCallTimeout()));
        Connect(deadline);
    } catch (const Exception&) {
        if (ThrowException) throw;
    }
}

// BeforeConnect, the connection, and GET /rpc/<ServerName> within the deadline.
void TNetConnection::Connect(std::chrono::steady_clock::time_point& deadline) {
    impl_->connected = false;
    if (BeforeConnect) BeforeConnect(this);
    impl_->host = Host.empty() ? Brannox::WebURL() : Host;
    impl_->port = Port ? Port : Brannox::WebPort();
    impl_->tls = Brannox::WebTls();
    try {
        impl_->Open(deadline, ConnectTimeout ? ConnectTimeout : DefaultConnectTimeout());
        TNetRequest probe;
        probe.target = "/rpc/" + ServerName;
        TNetAnswer res;
        impl_->Authorized(probe, deadline, res);
        if (res.status == 404)
            throw Exception("O servidor de aplicação " + impl_->Where() + " não oferece o módulo " +
                            ServerName + ".");
        if (res.status == 401)
            throw ENetLoginFailed("O servidor de aplicação " + impl_->Where() +
                                  " exige a entrada do operador: entre de novo com operador e "
                                  "senha.");
        if (res.status != 200)
            throw Exception("O servidor de aplicação " + impl_->Where() +
                            " recusou a conexão ao módulo " + ServerName + " (HTTP " +
                            std::to_string(res.status) + ").");
        impl_->connected = true;
    } catch (const TNetTransportError& e) {
        impl_->Close();
        throw Exception(e.message);
    } catch (...) {
        impl_->Close();
        throw;
    }
}

namespace {

// A body as JSON, or nothing when it is not JSON (a gateway's page, say). An answer is parsed once
// and looked at by both checks below.
std::optional<nlohmann::json> AnswerJson(const String& body) {
    try {
        return ParseJsonLimited(body);
    } catch (const Exception&) {
        return std::nullopt;
    }
}

// The JSON-RPC answer in a body; an error answer raises its message as the server wrote it.
Variant ResultOf(std::optional<nlohmann::json>& parsed, long long id, unsigned status,
                 const String& host, int port) {
    const auto where = [&] { return WhereOf(host, port); };
    if (!parsed)
        throw Exception("Resposta inválida do servidor de aplicação " + where() + " (HTTP " +
                        std::to_string(status) + ").");
    nlohmann::json& answer = *parsed;
    if (answer.is_object() && answer.contains("error")) {
        const nlohmann::json& error = answer["error"];
        if (error.is_object() && error.contains("message") && error["message"].is_string())
            throw Exception(error["message"].get<String>());
        throw Exception("Erro sem mensagem do servidor de aplicação " + where() + ".");
    }
    if (status / 100 != 2)
        throw Exception("O servidor de aplicação " + where() + " respondeu HTTP " +
                        std::to_string(status) + ".");
    if (!answer.is_object() || !answer.contains("result") ||
        answer.value("id", nlohmann::json()) != id)
        throw Exception("Resposta inválida do servidor de aplicação " + where() + ".");
    return Variant::FromJson(std::move(answer["result"]));
}

// The server's code for a save whose COMMIT lost its answer while the database stayed away.
constexpr int kOutcomeUnknownCode = -32006;

struct OurError {
    int code;
    String message;
};

// The error of an answer in the server's JSON-RPC form, or nothing for any other body (a
// gateway's page, say).
std::optional<OurError> OurErrorOf(const std::optional<nlohmann::json>& parsed) {
    if (!parsed) return std::nullopt;
    const nlohmann::json& answer = *parsed;
    if (!answer.is_object() || answer.value("jsonrpc", nlohmann::json()) != "2.0") return {};
    const auto error = answer.find("error");
    if (error == answer.end() || !error->is_object()) return std::nullopt;
    const auto code = error->find("code");
    const auto message = error->find("message");
    if (code == error->end() || !code->is_number_integer() || message == error->end() ||
        !message->is_string())
        return std::nullopt;
    return OurError{code->get<int>(), message->get<String>()};
}

} // namespace

Variant TNetConnection::Call(const String& method, const std::vector<Variant>& args) {
    if (!impl_->wanted)
        throw Exception(
            TNetTransportError::CannotConnect(
                impl_->Where(), "a conexão ao módulo " + ServerName + " não está aberta", false)
                .message);
    // The arguments are written first: one the wire cannot carry fails the call before it
    // takes an id. The connection's room for them is used again.
    String& paramsText = impl_->paramsText;
    paramsText.clear();
    AppendParams(paramsText, args);
    if (paramsText.capacity() > kKeptAnswerBytes) String().swap(impl_->paramsText);
    const long long id = ++impl_->nextId;
    // The request object written as it stands, its members in the order of their names.
    TNetRequest request;
    request.post = true;
    const String methodText = MethodText(method);
    request.body.reserve(48 + methodText.size() + paramsText.size());
    request.body.append("{\"id\":").append(std::to_string(id));
    request.body.append(",\"jsonrpc\":\"2.0\",\"method\":").append(methodText);
    request.body.append(",\"params\":").append(paramsText) += '}';
    request.idempotencyKey = NewCallKey();
    auto deadline = Clock::now() + milliseconds(CallTimeout ? CallTimeout : DefaultCallTimeout());

    String failure;
    bool maybeRun = false;
    for (size_t attempt = 0;; ++attempt) {
        bool answered = false;
        try {
            if (!impl_->connected) {
                Connect(deadline);
            } else if (impl_->Stale()) {
                impl_->Open(deadline, ConnectTimeout ? ConnectTimeout : DefaultConnectTimeout());
            }
            request.target.assign("/rpc/").append(ServerName);
            impl_->Authorized(request, deadline, impl_->lastAnswer);
            answered = true;
        } catch (const ENetLoginFailed&) {
            throw; // asking again with the same password cannot help
        } catch (const ENetInsecure&) {
            throw;
        } catch (const TNetTransportError& e) {
            impl_->Close();
            impl_->connected = false; // the next attempt connects anew, BeforeConnect included
            failure = e.message;
            maybeRun = maybeRun || e.sent;
            if (!e.retry) throw Exception(failure);
        } catch (const Exception& e) {
            // Connecting failed (the module check included): nothing was sent.
            impl_->connected = false;
            failure = e.Message();
        }
        if (answered) {
            const unsigned status = impl_->lastAnswer.status;
            std::optional<nlohmann::json> answer = AnswerJson(impl_->lastAnswer.body);
            impl_->KeepAnswerSmall();
            const std::optional<OurError> ours =
                status / 100 == 5 ? OurErrorOf(answer) : std::nullopt;
            const bool retried = status == 502 || status == 503 || status == 504;
            if (status / 100 != 5 || (ours && !retried))
                return ResultOf(answer, id, status, impl_->host, impl_->port);
            // A gateway or an overloaded server: the call is tried again. A failure that is not
            // ours came from something in between, which may have forwarded the request to us;
            // of ours, only an outcome the server could not confirm may have been carried out.
            failure = ours ? ours->message
                           : "O servidor de aplicação " + impl_->Where() + " respondeu HTTP " +
                                 std::to_string(status) + ".";
            maybeRun = maybeRun || !ours || ours->code == kOutcomeUnknownCode;
        }
        if (attempt >= std::size(kRetryPauseMs)) break;
        const auto resume = Clock::now() + milliseconds(kRetryPauseMs[attempt]);
        if (resume >= deadline) break;
        std::this_thread::sleep_until(resume);
    }
    // The type tells the caller that the request may have been carried out; the message is the
    // last failure, which a read shows as it stands.
    if (maybeRun) throw ENetOutcomeUnknown(failure);
    throw Exception(failure);
}

void TNetConnection::SetOperator(String name) {
    std::lock_guard lock(settingsMutex);
    operatorName = std::move(name);
}

void TNetConnection::SetLoginPrompt(TLoginPrompt prompt) {
    std::lock_guard lock(settingsMutex);
    loginPrompt = std::move(prompt);
}

void TNetConnection::SetTls(String ca, bool insecure) {
    std::lock_guard lock(settingsMutex);
    caFile = std::move(ca);
    insecureAllowed = insecure;
}

void TNetConnection::SetPassword(String pw) {
    std::lock_guard lock(settingsMutex);
    password = std::move(pw);
    sessionToken.clear();
}

String TNetConnection::SessionToken() {
    std::lock_guard lock(settingsMutex);
    return sessionToken;
}

// Connects to the host's session module and asks it whether its server wants sessions: the
// "auth" of the module's description, or nothing when the description does not say.
std::optional<bool> TNetConnection::ProbeSession(std::chrono::steady_clock::time_point deadline) {
    ServerName = kSessionModule;
    Connect(deadline);
    TNetRequest probe;
    probe.target = "/rpc/" + ServerName;
    const TNetAnswer info = impl_->Exchange(std::move(probe), deadline);
    nlohmann::json j;
    try {
        j = ParseJsonLimited(info.body);
    } catch (const Exception&) {
        return std::nullopt;
    }
    if (!j.is_object() || !j.contains("auth") || !j["auth"].is_boolean()) return std::nullopt;
    return j["auth"].get<bool>();
}

TNetConnection::TLoginResult TNetConnection::LogIn(String& message) {
    TNetConnection c;
    const auto deadline =
        Clock::now() + milliseconds(DefaultConnectTimeout() + DefaultCallTimeout());
    try {
        if (c.ProbeSession(deadline) == false) return TLoginResult::NotRequired;
        if (c.impl_->Stale()) c.impl_->Open(deadline, DefaultConnectTimeout());
        if (!c.impl_->Login(deadline)) {
            message = "Informe a senha do operador.";
            return TLoginResult::Refused;
        }
        return TLoginResult::Ok;
    } catch (const ENetLoginFailed& e) {
        message = e.Message();
        return TLoginResult::Refused;
    } catch (const ENetInsecure& e) {
        message = e.Message();
        return TLoginResult::Refused;
    } catch (const TNetTransportError& e) {
        message = e.message;
    } catch (const Exception& e) {
        message = e.Message();
    }
    return TLoginResult::Unreachable;
}

bool TNetConnection::LoginNeeded() {
    if (!SessionToken().empty()) return false;
    TNetConnection c;
    try {
        return c.ProbeSession(Clock::now() +
                              milliseconds(DefaultConnectTimeout() + DefaultCallTimeout())) == true;
    } catch (...) {
        return false;
    }
}

void TNetConnection::SetTimeouts(int connectMs, int callMs) {
    std::lock_guard lock(settingsMutex);
    if (connectMs > 0) defaultConnectMs = connectMs;
    if (callMs > 0) defaultCallMs = callMs;
}

void TNetConnection::SetTransportFactory(TNetTransportFactory factory) {
    std::lock_guard lock(settingsMutex);
    transportFactory = std::move(factory);
}

int TNetConnection::DefaultConnectTimeout() {
    std::lock_guard lock(settingsMutex);
    return defaultConnectMs;
}

int TNetConnection::DefaultCallTimeout() {
    std::lock_guard lock(settingsMutex);
    return defaultCallMs;
}
