#include "net/TlsTransport.h"

#include "net/TransportReason.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <poll.h>
#include <sys/socket.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

struct TTlsTransport::Impl {
    Impl(String h, int p, size_t limit, String ca)
        : host(std::move(h)), port(p), answerLimit(limit), caFile(std::move(ca)) {}

    String host;
    int port;
    size_t answerLimit;
    String caFile;
    asio::io_context io;
    std::optional<beast::tcp_stream> stream; // while connecting
    std::optional<asio::ssl::context> tlsContext;
    std::optional<beast::ssl_stream<beast::tcp_stream>> tlsStream; // once the handshake is done
    // Holds what is read beyond the headers; capped so no framing gets past the answer limit.
    beast::flat_buffer buffer{answerLimit};

    String Where() const { return host + ":" + std::to_string(port); }

    // Runs the asynchronous operations started on io until they finish or the stream's
    // deadline cancels them.
    void Run() {
        io.restart();
        io.run();
    }

    bool IsOpen() const { return stream || tlsStream; }
    // The TCP stream under the open connection, plain or TLS.
    beast::tcp_stream& Tcp() { return tlsStream ? beast::get_lowest_layer(*tlsStream) : *stream; }
    // Runs f on the TLS stream, which carries HTTP once the handshake is done.
    template <class F> void Io(F&& f) { f(*tlsStream); }

    void Close() {
        if (!IsOpen()) return;
        beast::error_code ec;
        Tcp().socket().shutdown(tcp::socket::shutdown_both, ec);
        Tcp().socket().close(ec);
        tlsStream.reset();
        stream.reset();
    }

    // TLS over the connected stream: the certificate must chain to a trusted authority and
    // name the host.
    void Handshake(Clock::time_point deadline, int connectMs) {
        if (!tlsContext) {
            tlsContext.emplace(asio::ssl::context::tls_client);
            tlsContext->set_options(asio::ssl::context::default_workarounds |
                                    asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3 |
                                    asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
            boost::system::error_code e;
            tlsContext->set_default_verify_paths(e);
            if (!caFile.empty()) {
                tlsContext->load_verify_file(caFile, e);
                if (e) {
                    tlsContext.reset();
                    Close();
                    TNetTransportError failure = TNetTransportError::CannotConnect(
                        Where(),
                        "não foi possível ler o certificado da autoridade " + caFile + " (" +
                            e.message() + ")",
                        false);
                    failure.retry = false;
                    throw failure;
                }
            }
            tlsContext->set_verify_mode(asio::ssl::verify_peer);
        }
        tlsStream.emplace(std::move(*stream), *tlsContext);
        stream.reset();
        boost::system::error_code ec;
        boost::system::error_code ip;
        asio::ip::make_address(host, ip);
        if (ip) SSL_set_tlsext_host_name(tlsStream->native_handle(), host.c_str());
        tlsStream->set_verify_callback(asio::ssl::host_name_verification(host));
        Tcp().expires_at(std::min(deadline, Clock::now() + std::chrono::milliseconds(connectMs)));
        tlsStream->async_handshake(asio::ssl::stream_base::client,
                                   [&](beast::error_code e) { ec = e; });
        Run();
        if (ec) {
            Close();
            const bool refused = ec.category() == asio::error::get_ssl_category();
            TNetTransportError failure = TNetTransportError::CannotConnect(
                Where(),
                refused ? "a conexão segura (TLS) falhou: o certificado do servidor não foi "
                          "aceito ou o servidor não fala HTTPS (" +
                              ec.message() + ")"
                        : TransportReason(ec),
                false);
            failure.retry = !refused;
            throw failure;
        }
    }
};

TTlsTransport::TTlsTransport(String host, int port, size_t answerLimit, String caFile)
    : impl_(std::make_unique<Impl>(std::move(host), port, answerLimit, std::move(caFile))) {}

TTlsTransport::~TTlsTransport() {
    impl_->Close();
}

void TTlsTransport::Open(Clock::time_point deadline, int connectMs) {
    Impl& d = *impl_;
    d.Close();
    boost::system::error_code ec;
    tcp::resolver resolver(d.io);
    auto endpoints = resolver.resolve(d.host, std::to_string(d.port), ec);
    if (ec) throw TNetTransportError::CannotConnect(d.Where(), TransportReason(ec), false);
    d.stream.emplace(d.io);
    d.stream->expires_at(std::min(deadline, Clock::now() + std::chrono::milliseconds(connectMs)));
    d.stream->async_connect(endpoints, [&](beast::error_code e, const tcp::endpoint&) { ec = e; });
    d.Run();
    if (ec) {
        d.stream.reset();
        throw TNetTransportError::CannotConnect(d.Where(), TransportReason(ec), false);
    }
    d.stream->socket().set_option(tcp::no_delay(true), ec);
    d.buffer.clear();
    d.Handshake(deadline, connectMs);
}

// True when the server has closed the idle connection (or sent something unasked).
bool TTlsTransport::Stale() {
    if (!impl_->IsOpen()) return true;
    pollfd p{impl_->Tcp().socket().native_handle(), POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    char c;
    return recv(p.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) != -1 || errno != EAGAIN;
}

// The body is limited while it is read, so a huge answer is dropped before it fills the memory.
TNetAnswer TTlsTransport::Exchange(const TNetRequest& request, Clock::time_point deadline) {
    Impl& d = *impl_;
    if (!d.tlsStream)
        throw TNetTransportError::CannotConnect(d.Where(), "conexão encerrada pelo servidor",
                                                false);
    const http::verb verb = request.post ? http::verb::post : http::verb::get;
    http::request<http::string_body> req{verb, request.target, 11};
    req.set(http::field::host, d.host);
    req.set(http::field::user_agent, "kx-host");
    if (request.post) req.set(http::field::content_type, "application/json");
    if (!request.operatorName.empty()) req.set("X-Operator", request.operatorName);
    if (!request.token.empty()) req.set(http::field::authorization, "Bearer " + request.token);
    if (!request.idempotencyKey.empty()) req.set("Idempotency-Key", request.idempotencyKey);
    req.keep_alive(true);
    req.body() = request.body;
    req.prepare_payload();

    beast::error_code ec;
    d.Tcp().expires_at(deadline);
    d.Io([&](auto& s) { http::async_write(s, req, [&](beast::error_code e, size_t) { ec = e; }); });
    d.Run();
    // A request cut short may still have reached the server in part: only a refused
    // write of nothing at all is known not to have.
    if (ec) {
        d.Close();
        throw TNetTransportError::CannotConnect(d.Where(), TransportReason(ec), true);
    }
    http::response_parser<http::string_body> parser;
    parser.body_limit(d.answerLimit);
    // The header first: a declared length over the limit ends the answer before its body,
    // whatever the parser's own limit makes of it.
    d.Io([&](auto& s) {
        http::async_read_header(s, d.buffer, parser, [&](beast::error_code e, size_t) { ec = e; });
    });
    d.Run();
    if (!ec && parser.content_length() && *parser.content_length() > d.answerLimit)
        ec = http::error::body_limit;
    if (!ec && !parser.is_done()) {
        d.Io([&](auto& s) {
            http::async_read(s, d.buffer, parser, [&](beast::error_code e, size_t) { ec = e; });
        });
        d.Run();
    }
    if (ec) {
        d.Close();
        if (ec == beast::error::timeout) throw TNetTransportError::NoAnswerInTime(d.Where());
        TNetTransportError failure =
            TNetTransportError::CannotConnect(d.Where(), TransportReason(ec), true);
        failure.retry = ec != http::error::body_limit && ec != http::error::buffer_overflow &&
                        ec != http::error::header_limit;
        throw failure;
    }
    auto res = parser.release();
    if (!res.keep_alive()) d.Close();
    return {res.result_int(), std::move(res.body())};
}
