#include "net/NetConnection.h"

#include "vcl/FormReader.h"

#include "Brannox.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/socket.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr std::chrono::seconds kConnectTimeout{10};
constexpr std::chrono::seconds kCallTimeout{60};
constexpr size_t kAnswerLimit = 64u << 20;

std::mutex operatorMutex;
String operatorName;

String OperatorName() {
    std::lock_guard lock(operatorMutex);
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
    return ec.message();
}

// A transport failure: the message is complete, ready for the user.
struct TransportError {
    String message;
    bool beforeAnswer; // nothing of an answer was read: the request may be sent again
};

} // namespace

struct TNetConnection::Impl {
    asio::io_context io;
    std::optional<beast::tcp_stream> stream;
    beast::flat_buffer buffer;
    bool connected = false;
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

    void Open() {
        Close();
        boost::system::error_code ec;
        tcp::resolver resolver(io);
        auto endpoints = resolver.resolve(host, std::to_string(port), ec);
        if (ec) throw TransportError{CannotConnect(Reason(ec)), true};
        stream.emplace(io);
        stream->expires_after(kConnectTimeout);
        stream->async_connect(endpoints,
                              [&](beast::error_code e, const tcp::endpoint&) { ec = e; });
        Run();
        if (ec) {
            stream.reset();
            throw TransportError{CannotConnect(Reason(ec)), true};
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

    http::response<http::string_body> Exchange(http::verb verb, const String& target,
                                               const String& body) {
        http::request<http::string_body> req{verb, target, 11};
        req.set(http::field::host, host);
        req.set(http::field::user_agent, "kx-host");
        if (verb == http::verb::post) req.set(http::field::content_type, "application/json");
        if (String op = OperatorName(); !op.empty()) req.set("X-Operator", op);
        req.keep_alive(true);
        req.body() = body;
        req.prepare_payload();

        beast::error_code ec;
        stream->expires_after(kCallTimeout);
        http::async_write(*stream, req, [&](beast::error_code e, size_t) { ec = e; });
        Run();
        if (ec) throw TransportError{CannotConnect(Reason(ec)), true};
        http::response_parser<http::string_body> parser;
        parser.body_limit(kAnswerLimit);
        http::async_read(*stream, buffer, parser, [&](beast::error_code e, size_t) { ec = e; });
        Run();
        if (ec) {
            const bool nothingRead = !parser.got_some() && buffer.size() == 0;
            throw TransportError{CannotConnect(Reason(ec)),
                                 nothingRead && (ec == http::error::end_of_stream ||
                                                 ec == asio::error::connection_reset)};
        }
        auto res = parser.release();
        if (!res.keep_alive()) Close();
        return res;
    }

    // One exchange on the open connection; a connection found closed by the server is
    // reopened, and an exchange that died before any answer is sent once more on a new one.
    http::response<http::string_body> Send(http::verb verb, const String& target,
                                           const String& body) {
        bool reopened = false;
        if (Stale()) {
            Open();
            reopened = true;
        }
        try {
            return Exchange(verb, target, body);
        } catch (const TransportError& e) {
            Close();
            if (reopened || !e.beforeAnswer) throw;
        }
        Open();
        return Exchange(verb, target, body);
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
        return;
    }
    if (impl_->connected) return;
    if (BeforeConnect) BeforeConnect(this);
    impl_->host = Host.empty() ? Brannox::WebURL() : Host;
    impl_->port = Port ? Port : Brannox::WebPort();
    try {
        impl_->Open();
        const auto res = impl_->Exchange(http::verb::get, "/rpc/" + ServerName, "");
        if (res.result() == http::status::not_found)
            throw TransportError{"O servidor de aplicação " + impl_->Where() +
                                     " não oferece o módulo " + ServerName + ".",
                                 false};
        if (res.result() != http::status::ok)
            throw TransportError{"O servidor de aplicação " + impl_->Where() +
                                     " recusou a conexão ao módulo " + ServerName + " (HTTP " +
                                     std::to_string(res.result_int()) + ").",
                                 false};
        impl_->connected = true;
    } catch (const TransportError& e) {
        impl_->Close();
        if (ThrowException) throw Exception(e.message);
    }
}

Variant TNetConnection::Call(const String& method, const std::vector<Variant>& args) {
    if (!impl_->connected)
        throw Exception(
            impl_->CannotConnect("a conexão ao módulo " + ServerName + " não está aberta"));
    nlohmann::json params = nlohmann::json::array();
    for (const Variant& a : args)
        params.push_back(a.ToJson());
    const long long id = ++impl_->nextId;
    const nlohmann::json call = {
        {"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}};

    http::response<http::string_body> res;
    try {
        res = impl_->Send(http::verb::post, "/rpc/" + ServerName, call.dump());
    } catch (const TransportError& e) {
        throw Exception(e.message);
    }
    nlohmann::json answer;
    try {
        answer = nlohmann::json::parse(res.body());
    } catch (const nlohmann::json::exception&) {
        throw Exception("Resposta inválida do servidor de aplicação " + impl_->Where() + " (HTTP " +
                        std::to_string(res.result_int()) + ").");
    }
    if (answer.is_object() && answer.contains("error")) {
        const nlohmann::json& error = answer["error"];
        if (error.is_object() && error.contains("message") && error["message"].is_string())
            throw Exception(error["message"].get<String>());
        throw Exception("Erro sem mensagem do servidor de aplicação " + impl_->Where() + ".");
    }
    if (!answer.is_object() || !answer.contains("result") ||
        answer.value("id", nlohmann::json()) != id)
        throw Exception("Resposta inválida do servidor de aplicação " + impl_->Where() + ".");
    return Variant::FromJson(answer["result"]);
}

void TNetConnection::SetOperator(String name) {
    std::lock_guard lock(operatorMutex);
    operatorName = std::move(name);
}
