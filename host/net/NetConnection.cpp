#include "net/NetConnection.h"

#include "vcl/FormReader.h"

#include "net/Brannox.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Pauses before each new attempt of a call whose answer did not arrive.
constexpr int kRetryPauseMs[] = {150, 300, 600, 1200};

std::mutex settingsMutex;
String operatorName;
int defaultConnectMs = 5000;
int defaultCallMs = 30000;

String OperatorName() {
    std::lock_guard lock(settingsMutex);
    return operatorName;
}

String Reason(const boost::system::error_code& ec) {
    if (ec == asio::error::connection_refused) return "conexão recusada";
    if (ec == beast::error::timeout || ec == asio::error::timed_out) return "tempo esgotado";
    if (ec == asio::error::host_not_found || ec == asio::error::host_not_found_try_again)
        return "host não encontrado";
    if (ec == http::error::end_of_stream || ec == asio::error::eof)
        return "conexão encerrada pelo servidor";
    if (ec == asio::error::connection_reset) return "conexão reiniciada pelo servidor";
    if (ec == asio::error::network_unreachable || ec == asio::error::host_unreachable)
        return "rede inacessível";
    if (ec == http::error::body_limit || ec == http::error::buffer_overflow ||
        ec == http::error::header_limit)
        return "resposta maior que o limite de 64 MiB";
    return ec.message();
}

// A transport failure: the message is complete, ready for the user.
struct TransportError {
    String message;
    bool sent;         // the request may have reached the server
    bool retry = true; // another attempt may do better (not so for an answer over the limit)
};

// 128 random bits as text: the key of one call, kept across its retries.
String NewCallKey() {
    static thread_local std::random_device device;
    static const char* hex = "0123456789abcdef";
    String key;
    for (int i = 0; i < 4; ++i) {
        uint32_t r = device();
        for (int k = 0; k < 8; ++k, r >>= 4)
            key += hex[r & 15];
    }
    return key;
}

} // namespace

struct TNetConnection::Impl {
    asio::io_context io;
    std::optional<beast::tcp_stream> stream;
    // Holds what is read beyond the headers; capped so no framing gets past the answer limit.
    beast::flat_buffer buffer{AnswerLimit};
    bool wanted = false;    // Connected was set true: calls open what they need
    bool connected = false; // the module answered on the current address
    String host;
    int port = 0;
    std::atomic<long long> nextId{0};

    String Where() const { return host + ":" + std::to_string(port); }

    String CannotConnect(const String& reason) const {
        return "Não foi possível conectar ao servidor de aplicação " + Where() + ": " + reason +
               ".";
    }

    // Runs the asynchronous operations started on io until they finish or the stream's
    // deadline cancels them.
    void Run() {
        io.restart();
        io.run();
    }

    void Close() {
        if (!stream) return;
        beast::error_code ec;
        stream->socket().shutdown(tcp::socket::shutdown_both, ec);
        stream->socket().close(ec);
        stream.reset();
    }

    void Open(Clock::time_point deadline, int connectMs) {
        Close();
        boost::system::error_code ec;
        tcp::resolver resolver(io);
        auto endpoints = resolver.resolve(host, std::to_string(port), ec);
        if (ec) throw TransportError{CannotConnect(Reason(ec)), false};
        stream.emplace(io);
        stream->expires_at(std::min(deadline, Clock::now() + milliseconds(connectMs)));
        stream->async_connect(endpoints,
                              [&](beast::error_code e, const tcp::endpoint&) { ec = e; });
        Run();
        if (ec) {
            stream.reset();
            throw TransportError{CannotConnect(Reason(ec)), false};
        }
        stream->socket().set_option(tcp::no_delay(true), ec);
        buffer.clear();
    }

    // True when the server has closed the idle connection (or sent something unasked).
    bool Stale() {
        if (!stream) return true;
        pollfd p{stream->socket().native_handle(), POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) return false;
        char c;
        return recv(p.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) != -1 || errno != EAGAIN;
    }

    // One request and its answer on the open connection, both within the deadline. The body is
    // limited while it is read, so a huge answer is dropped before it fills the memory.
    http::response<http::string_body> Exchange(http::verb verb, const String& target,
                                               const String& body, const String& key,
                                               Clock::time_point deadline) {
        http::request<http::string_body> req{verb, target, 11};
        req.set(http::field::host, host);
        req.set(http::field::user_agent, "kx-host");
        if (verb == http::verb::post) req.set(http::field::content_type, "application/json");
        if (String op = OperatorName(); !op.empty()) req.set("X-Operator", op);
        if (!key.empty()) req.set("Idempotency-Key", key);
        req.keep_alive(true);
        req.body() = body;
        req.prepare_payload();

        beast::error_code ec;
        stream->expires_at(deadline);
        http::async_write(*stream, req, [&](beast::error_code e, size_t) { ec = e; });
        Run();
        // A request cut short may still have reached the server in part: only a refused
        // write of nothing at all is known not to have.
        if (ec) throw TransportError{CannotConnect(Reason(ec)), true};
        http::response_parser<http::string_body> parser;
        parser.body_limit(AnswerLimit);
        // The header first: a declared length over the limit ends the answer before its body,
        // whatever the parser's own limit makes of it.
        http::async_read_header(*stream, buffer, parser,
                                [&](beast::error_code e, size_t) { ec = e; });
        Run();
        if (!ec && parser.content_length() && *parser.content_length() > AnswerLimit)
            ec = http::error::body_limit;
        if (!ec && !parser.is_done()) {
            http::async_read(*stream, buffer, parser, [&](beast::error_code e, size_t) { ec = e; });
            Run();
        }
        if (ec) {
            Close();
            const bool tooLarge = ec == http::error::body_limit ||
                                  ec == http::error::buffer_overflow ||
                                  ec == http::error::header_limit;
            throw TransportError{ec == beast::error::timeout
                                     ? "O servidor de aplicação " + Where() +
                                           " não respondeu dentro do tempo limite."
                                     : CannotConnect(Reason(ec)),
                                 true, !tooLarge};
        }
        auto res = parser.release();
        if (!res.keep_alive()) Close();
        return res;
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
        Connect(Clock::now() +
                milliseconds(connectMs + (CallTimeout ? CallTimeout : DefaultCallTimeout())));
    } catch (const Exception&) {
        if (ThrowException) throw;
    }
}

// BeforeConnect, the connection, and GET /rpc/<ServerName> within the deadline.
void TNetConnection::Connect(std::chrono::steady_clock::time_point deadline) {
    impl_->connected = false;
    if (BeforeConnect) BeforeConnect(this);
    impl_->host = Host.empty() ? Brannox::WebURL() : Host;
    impl_->port = Port ? Port : Brannox::WebPort();
    try {
        impl_->Open(deadline, ConnectTimeout ? ConnectTimeout : DefaultConnectTimeout());
        const auto res = impl_->Exchange(http::verb::get, "/rpc/" + ServerName, "", "", deadline);
        if (res.result() == http::status::not_found)
            throw Exception("O servidor de aplicação " + impl_->Where() + " não oferece o módulo " +
                            ServerName + ".");
        if (res.result() != http::status::ok)
            throw Exception("O servidor de aplicação " + impl_->Where() +
                            " recusou a conexão ao módulo " + ServerName + " (HTTP " +
                            std::to_string(res.result_int()) + ").");
        impl_->connected = true;
    } catch (const TransportError& e) {
        impl_->Close();
        throw Exception(e.message);
    } catch (...) {
        impl_->Close();
        throw;
    }
}

namespace {

// The JSON-RPC answer in a body; an error answer raises its message as the server wrote it.
Variant ResultOf(const String& body, const nlohmann::json& id, unsigned status,
                 const String& where) {
    nlohmann::json answer;
    try {
        answer = ParseJsonLimited(body);
    } catch (const Exception&) {
        throw Exception("Resposta inválida do servidor de aplicação " + where + " (HTTP " +
                        std::to_string(status) + ").");
    }
    if (answer.is_object() && answer.contains("error")) {
        const nlohmann::json& error = answer["error"];
        if (error.is_object() && error.contains("message") && error["message"].is_string())
            throw Exception(error["message"].get<String>());
        throw Exception("Erro sem mensagem do servidor de aplicação " + where + ".");
    }
    if (status / 100 != 2)
        throw Exception("O servidor de aplicação " + where + " respondeu HTTP " +
                        std::to_string(status) + ".");
    if (!answer.is_object() || !answer.contains("result") ||
        answer.value("id", nlohmann::json()) != id)
        throw Exception("Resposta inválida do servidor de aplicação " + where + ".");
    return Variant::FromJson(answer["result"]);
}

} // namespace

Variant TNetConnection::Call(const String& method, const std::vector<Variant>& args) {
    if (!impl_->wanted)
        throw Exception(
            impl_->CannotConnect("a conexão ao módulo " + ServerName + " não está aberta"));
    nlohmann::json params = nlohmann::json::array();
    for (const Variant& a : args)
        params.push_back(a.ToJson());
    const long long id = ++impl_->nextId;
    const String body = nlohmann::json{
        {"jsonrpc", "2.0"},
        {"id", id},
        {"method", method},
        {"params",
         std::move(params)}}.dump();
    const String key = NewCallKey();
    const auto deadline =
        Clock::now() + milliseconds(CallTimeout ? CallTimeout : DefaultCallTimeout());

    String failure;
    bool maybeRun = false;
    for (size_t attempt = 0;; ++attempt) {
        std::optional<http::response<http::string_body>> res;
        try {
            if (!impl_->connected) {
                Connect(deadline);
            } else if (impl_->Stale()) {
                impl_->Open(deadline, ConnectTimeout ? ConnectTimeout : DefaultConnectTimeout());
            }
            res = impl_->Exchange(http::verb::post, "/rpc/" + ServerName, body, key, deadline);
        } catch (const TransportError& e) {
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
        if (res) {
            const unsigned status = res->result_int();
            if (status != 502 && status != 503 && status != 504)
                return ResultOf(res->body(), id, status, impl_->Where());
            // A gateway or an overloaded server: the call is tried again.
            failure = "O servidor de aplicação " + impl_->Where() + " respondeu HTTP " +
                      std::to_string(status) + ".";
            maybeRun = maybeRun || status != 503;
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

void TNetConnection::SetTimeouts(int connectMs, int callMs) {
    std::lock_guard lock(settingsMutex);
    if (connectMs > 0) defaultConnectMs = connectMs;
    if (callMs > 0) defaultCallMs = callMs;
}

int TNetConnection::DefaultConnectTimeout() {
    std::lock_guard lock(settingsMutex);
    return defaultConnectMs;
}

int TNetConnection::DefaultCallTimeout() {
    std::lock_guard lock(settingsMutex);
    return defaultCallMs;
}
