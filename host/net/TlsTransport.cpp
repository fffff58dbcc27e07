#include "net/TlsTransport.h"

#include "net/SocketLink.h"

#include <boost/asio/ssl.hpp>
#include <boost/beast/ssl.hpp>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

struct TTlsTransport::Secure : TSocketTransport::Link {
    Secure(String h, int p, size_t limit, String ca)
        : Link(std::move(h), p, limit), caFile(std::move(ca)) {}

    String caFile;
    std::optional<asio::ssl::context> tlsContext;
    // Takes the TCP stream over once connected; carries HTTP once the handshake is done.
    std::optional<beast::ssl_stream<beast::tcp_stream>> tlsStream;

    bool IsOpen() const override { return stream || tlsStream; }
    beast::tcp_stream& Tcp() override {
        return tlsStream ? beast::get_lowest_layer(*tlsStream) : *stream;
    }
    void Reset() override {
        tlsStream.reset();
        stream.reset();
    }

    // TLS over the connected stream: the certificate must chain to a trusted authority and
    // name the host.
    void Connected(Clock::time_point deadline, int connectMs) override {
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
                    tlsContext.reset(); // read again at the next opening
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
        Tcp().expires_at(StepDeadline(deadline, connectMs));
        tlsStream->async_handshake(asio::ssl::stream_base::client,
                                   [&](beast::error_code e) { ec = e; });
        Run();
        if (ec) {
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

    // The body is limited while it is read, so a huge answer is dropped before it fills the
    // memory.
    void Exchange(const TNetRequest& request, Clock::time_point deadline,
                  TNetAnswer& answer) override {
        const http::verb verb = request.post ? http::verb::post : http::verb::get;
        http::request<http::string_body> req{verb, request.target, 11};
        req.set(http::field::host, host);
        req.set(http::field::user_agent, "kx-host");
        if (request.post) req.set(http::field::content_type, "application/json");
        if (!request.operatorName.empty()) req.set("X-Operator", request.operatorName);
        if (!request.token.empty()) req.set(http::field::authorization, "Bearer " + request.token);
        if (!request.idempotencyKey.empty()) req.set("Idempotency-Key", request.idempotencyKey);
        req.keep_alive(true);
        req.body() = request.body;
        req.prepare_payload();

        beast::error_code ec;
        Tcp().expires_at(deadline);
        http::async_write(*tlsStream, req, [&](beast::error_code e, size_t) { ec = e; });
        Run();
        if (ec) WriteFailed(ec);
        Parser parser;
        Prepare(parser, answer);
        // The header first: a declared length over the limit ends the answer before its body,
        // whatever the parser's own limit makes of it.
        http::async_read_header(*tlsStream, buffer, parser,
                                [&](beast::error_code e, size_t) { ec = e; });
        Run();
        if (!ec && parser.content_length() && *parser.content_length() > answerLimit)
            ec = http::error::body_limit;
        if (!ec && !parser.is_done()) {
            http::async_read(*tlsStream, buffer, parser,
                             [&](beast::error_code e, size_t) { ec = e; });
            Run();
        }
        if (ec) ReadFailed(ec);
        Answer(parser, answer);
    }
};

TTlsTransport::TTlsTransport(String host, int port, size_t answerLimit, String caFile)
    : TSocketTransport(
          std::make_unique<Secure>(std::move(host), port, answerLimit, std::move(caFile))) {}
