#include "net/SocketTransport.h"

#include "net/SocketLink.h"

#include <boost/asio/connect.hpp>

#include <cerrno>
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

void TSocketTransport::Link::Close() {
    if (!IsOpen()) return;
    beast::error_code ec;
    Tcp().socket().shutdown(tcp::socket::shutdown_both, ec);
    Tcp().socket().close(ec);
    Reset();
}

// A request cut short may still have reached the server in part: only a refused write of
// nothing at all is known not to have.
void TSocketTransport::Link::WriteFailed(const beast::error_code& ec) {
    Close();
    throw TNetTransportError::CannotConnect(Where(), TransportReason(ec), true);
}

void TSocketTransport::Link::ReadFailed(const beast::error_code& ec) {
    Close();
    if (ec == beast::error::timeout) throw TNetTransportError::NoAnswerInTime(Where());
    TNetTransportError failure =
        TNetTransportError::CannotConnect(Where(), TransportReason(ec), true);
    failure.retry = ec != http::error::body_limit && ec != http::error::buffer_overflow &&
                    ec != http::error::header_limit;
    throw failure;
}

void TSocketTransport::Link::Prepare(Parser& parser, TNetAnswer& answer) {
    parser.body_limit(answerLimit);
    String& body = parser.get().body();
    body.swap(answer.body);
    body.clear();
}

void TSocketTransport::Link::Answer(Parser& parser, TNetAnswer& answer) {
    auto res = parser.release();
    if (!res.keep_alive()) Close();
    answer.status = res.result_int();
    answer.body.swap(res.body());
}

TSocketTransport::TSocketTransport(std::unique_ptr<Link> link) : link_(std::move(link)) {}

TSocketTransport::~TSocketTransport() {
    link_->Close();
}

void TSocketTransport::Open(Clock::time_point deadline, int connectMs) {
    Link& d = *link_;
    d.Close();
    boost::system::error_code ec;
    tcp::resolver resolver(d.io);
    auto endpoints = resolver.resolve(d.host, std::to_string(d.port), ec);
    if (ec) throw TNetTransportError::CannotConnect(d.Where(), TransportReason(ec), false);
    d.Resolved(endpoints);
    d.stream.emplace(d.io);
    d.stream->expires_at(Link::StepDeadline(deadline, connectMs));
    d.stream->async_connect(endpoints, [&](beast::error_code e, const tcp::endpoint&) { ec = e; });
    d.Run();
    if (ec) {
        d.stream.reset();
        throw TNetTransportError::CannotConnect(d.Where(), TransportReason(ec), false);
    }
    d.stream->socket().set_option(tcp::no_delay(true), ec);
    d.buffer.clear();
    try {
        d.Connected(deadline, connectMs);
    } catch (...) {
        d.Close();
        throw;
    }
}

// True when the server has closed the idle connection (or sent something unasked).
bool TSocketTransport::Stale() {
    if (!link_->IsOpen()) return true;
    pollfd p{link_->Tcp().socket().native_handle(), POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    char c;
    return recv(p.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) != -1 || errno != EAGAIN;
}

TNetAnswer TSocketTransport::Exchange(const TNetRequest& request, Clock::time_point deadline) {
    TNetAnswer answer;
    ExchangeInto(request, deadline, answer);
    return answer;
}

void TSocketTransport::ExchangeInto(const TNetRequest& request, Clock::time_point deadline,
                                    TNetAnswer& answer) {
    if (!link_->IsOpen())
        throw TNetTransportError::CannotConnect(link_->Where(), "conexão encerrada pelo servidor",
                                                false);
    link_->Exchange(request, deadline, answer);
}
