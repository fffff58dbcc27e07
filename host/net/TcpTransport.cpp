#include "net/TcpTransport.h"

#include "net/NetConnection.h"
#include "net/TransportReason.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <poll.h>
#include <sys/socket.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

String TransportReason(const boost::system::error_code& ec) {
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

struct TTcpTransport::Impl {
    Impl(String h, int p, size_t limit, bool remote)
        : host(std::move(h)), port(p), answerLimit(limit), plainToRemote(remote) {}

    String host;
    int port;
    size_t answerLimit;
    bool plainToRemote;
    asio::io_context io;
    std::optional<beast::tcp_stream> stream;
    // Holds what is read beyond the headers; capped so no framing gets past the answer limit.
    beast::flat_buffer buffer{answerLimit};

    String Where() const { return host + ":" + std::to_string(port); }

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
};

TTcpTransport::TTcpTransport(String host, int port, size_t answerLimit, bool plainToRemote)
    : impl_(std::make_unique<Impl>(std::move(host), port, answerLimit, plainToRemote)) {}

TTcpTransport::~TTcpTransport() {
    impl_->Close();
}

void TTcpTransport::Open(Clock::time_point deadline, int connectMs) {
    Impl& d = *impl_;
    d.Close();
    boost::system::error_code ec;
    tcp::resolver resolver(d.io);
    auto endpoints = resolver.resolve(d.host, std::to_string(d.port), ec);
    if (ec) throw TNetTransportError::CannotConnect(d.Where(), TransportReason(ec), false);
    if (!d.plainToRemote)
        for (const auto& e : endpoints)
            if (!e.endpoint().address().is_loopback())
                throw ENetInsecure("Conexão sem criptografia recusada: o servidor de aplicação " +
                                   d.Where() +
                                   " não está nesta máquina e a senha do operador passaria pela "
                                   "rede sem proteção. Use --server https://" +
                                   d.Where() + " (ou, numa rede de confiança, --insecure).");
    d.stream.emplace(d.io);
    d.stream->expires_at(std::min(deadline, Clock::now() + std::chrono::milliseconds(connectMs)));
    d.stream->async_connect(endpoints, [&](beast::error_code e, const tcp::endpoint&) { ec = e; });
    d.Run();
    if (ec) {
        d.stream.reset();
        throw TNetTransportError::CannotConnect(d.Where(), TransportReason(ec), false);
    }
    d.stream->socket().set_option(tcp::no_delay(true), ec);
    // Answers are small: a bounded receive buffer keeps the kernel from taking in tens of
    // megabytes of an oversized answer (its automatic sizing grows up to tcp_rmem) beyond the
    // limit the client reads to.
    d.stream->socket().set_option(asio::socket_base::receive_buffer_size(1 << 20), ec);
    d.buffer.clear();
}

// True when the server has closed the idle connection (or sent something unasked).
bool TTcpTransport::Stale() {
    if (!impl_->stream) return true;
    pollfd p{impl_->stream->socket().native_handle(), POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    char c;
    return recv(p.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) != -1 || errno != EAGAIN;
}

namespace {

// Waits until the socket is ready for `events`; false when the deadline passed first.
bool WaitFor(int fd, short events, TNetTransport::Clock::time_point deadline) {
    using namespace std::chrono;
    for (;;) {
        const auto left =
            duration_cast<milliseconds>(deadline - TNetTransport::Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, static_cast<int>(std::min<long long>(left + 1, 1 << 30)));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return true; // the read or write tells what is wrong
    }
}

// The request's bytes: the headers a client of this server sends, in this order.
String RequestText(const TNetRequest& request, const String& host) {
    String out;
    out.reserve(256 + request.body.size());
    out += request.post ? "POST " : "GET ";
    out += request.target;
    out += " HTTP/1.1\r\nHost: ";
    out += host;
    out += "\r\nUser-Agent: kx-host\r\n";
    if (request.post) out += "Content-Type: application/json\r\n";
    if (!request.operatorName.empty()) out += "X-Operator: " + request.operatorName + "\r\n";
    if (!request.token.empty()) out += "Authorization: Bearer " + request.token + "\r\n";
    if (!request.idempotencyKey.empty())
        out += "Idempotency-Key: " + request.idempotencyKey + "\r\n";
    if (request.post || !request.body.empty())
        out += "Content-Length: " + std::to_string(request.body.size()) + "\r\n";
    out += "\r\n";
    out += request.body;
    return out;
}

} // namespace

// The body is limited while it is read, so a huge answer is dropped before it fills the memory.
// The socket is written and read directly (poll, send, recv, Beast's parser): a call costs a few
// system calls and no event loop.
TNetAnswer TTcpTransport::Exchange(const TNetRequest& request, Clock::time_point deadline) {
    Impl& d = *impl_;
    if (!d.stream)
        throw TNetTransportError::CannotConnect(d.Where(), "conexão encerrada pelo servidor",
                                                false);
    const String text = RequestText(request, d.host);
    const int fd = d.stream->socket().native_handle();
    beast::error_code ec;
    for (size_t sent = 0; sent < text.size() && !ec;) {
        const ssize_t n =
            ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, deadline)) ec = beast::error::timeout;
        } else if (n < 0 && errno != EINTR) {
            ec.assign(errno, boost::system::system_category());
        }
    }
    // A request cut short may still have reached the server in part: only a refused
    // write of nothing at all is known not to have.
    if (ec) {
        d.Close();
        throw TNetTransportError::CannotConnect(d.Where(), TransportReason(ec), true);
    }

    http::response_parser<http::string_body> parser;
    parser.body_limit(d.answerLimit);
    parser.eager(true);
    bool headerChecked = false;
    bool waitFirst = true;
    while (!ec) {
        if (d.buffer.size() > 0) {
            const size_t used = parser.put(d.buffer.data(), ec);
            d.buffer.consume(used);
            if (ec == http::error::need_more) ec = {};
            if (ec) break;
            // The header first: a declared length over the limit ends the answer before its
            // body, whatever the parser's own limit makes of it.
            if (parser.is_header_done() && !headerChecked) {
                headerChecked = true;
                if (parser.content_length() && *parser.content_length() > d.answerLimit) {
                    ec = http::error::body_limit;
                    break;
                }
            }
            if (parser.is_done()) break;
            if (used > 0 && d.buffer.size() > 0) continue;
        }
        if (d.buffer.size() >= d.buffer.max_size()) {
            ec = http::error::buffer_overflow;
            break;
        }
        // The answer takes the server a while: the first read waits for it; once it flows,
        // reads go first and wait only when nothing is there, so a long answer is drained at
        // the pace it comes.
        if (waitFirst && !WaitFor(fd, POLLIN, deadline)) {
            ec = beast::error::timeout;
            break;
        }
        auto space =
            d.buffer.prepare(std::min<size_t>(65536, d.buffer.max_size() - d.buffer.size()));
        const ssize_t n = ::recv(fd, space.data(), space.size(), MSG_DONTWAIT);
        waitFirst = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        if (n > 0) {
            d.buffer.commit(static_cast<size_t>(n));
        } else if (n == 0) {
            // Closed by the server: an answer ends here only if it had no length.
            if (!parser.got_some()) {
                ec = d.buffer.size() ? http::error::partial_message : http::error::end_of_stream;
            } else {
                parser.put_eof(ec);
                if (!ec && !parser.is_done()) ec = http::error::partial_message;
                if (!ec) break;
            }
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            ec.assign(errno, boost::system::system_category());
        }
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
