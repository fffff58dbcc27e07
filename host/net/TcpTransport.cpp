#include "net/TcpTransport.h"

#include "net/NetConnection.h"
#include "net/SocketLink.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

struct TTcpTransport::Plain : TSocketTransport::Link {
    Plain(String h, int p, size_t limit, bool remote)
        : Link(std::move(h), p, limit), plainToRemote(remote) {}

    bool plainToRemote;

    void Resolved(const tcp::resolver::results_type& endpoints) override {
        if (plainToRemote) return;
        for (const auto& e : endpoints)
            if (!e.endpoint().address().is_loopback())
                throw ENetInsecure("Conexão sem criptografia recusada: o servidor de aplicação " +
                                   Where() +
                                   " não está nesta máquina e a senha do operador passaria pela "
                                   "rede sem proteção. Use --server https://" +
                                   Where() + " (ou, numa rede de confiança, --insecure).");
    }

    // Answers are small: a bounded receive buffer keeps the kernel from taking in tens of
    // megabytes of an oversized answer (its automatic sizing grows up to tcp_rmem) beyond the
    // limit the client reads to.
    void Connected(Clock::time_point, int) override {
        beast::error_code ec;
        stream->socket().set_option(asio::socket_base::receive_buffer_size(1 << 20), ec);
        // Writes and reads that must not wait say so (MSG_DONTWAIT); the read that waits for an
        // answer waits in the socket, bounded by its receive timeout.
        const int fd = stream->socket().native_handle();
        const int flags = fcntl(fd, F_GETFL);
        blockingReads = flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
        readTimeout = {};
    }

    bool blockingReads = false;
    // The socket's receive timeout (SO_RCVTIMEO), zero while unset. It is shortened only when a
    // call has less time left, so calls of one timeout set it once.
    std::chrono::milliseconds readTimeout{};

    // Receives what is there, or waits for it until the deadline: -1 with ETIMEDOUT once it
    // passed, or with EAGAIN when the wait ended early.
    ssize_t ReceiveWaiting(int fd, void* data, size_t size, Clock::time_point deadline);

    void Exchange(const TNetRequest& request, Clock::time_point deadline,
                  TNetAnswer& answer) override;
};

TTcpTransport::TTcpTransport(String host, int port, size_t answerLimit, bool plainToRemote)
    : TSocketTransport(std::make_unique<Plain>(std::move(host), port, answerLimit, plainToRemote)) {
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
    // The fixed parts take under 192 bytes: one allocation for the whole request.
    out.reserve(192 + request.target.size() + host.size() + request.operatorName.size() +
                request.token.size() + request.idempotencyKey.size() + request.body.size());
    out += request.post ? "POST " : "GET ";
    out += request.target;
    out += " HTTP/1.1\r\nHost: ";
    out += host;
    out += "\r\nUser-Agent: kx-host\r\n";
    if (request.post) out += "Content-Type: application/json\r\n";
    if (!request.operatorName.empty())
        out.append("X-Operator: ").append(request.operatorName) += "\r\n";
    if (!request.token.empty())
        out.append("Authorization: Bearer ").append(request.token) += "\r\n";
    if (!request.idempotencyKey.empty())
        out.append("Idempotency-Key: ").append(request.idempotencyKey) += "\r\n";
    if (request.post || !request.body.empty())
        out.append("Content-Length: ").append(std::to_string(request.body.size())) += "\r\n";
    out += "\r\n";
    out += request.body;
    return out;
}

} // namespace

ssize_t TTcpTransport::Plain::ReceiveWaiting(int fd, void* data, size_t size,
                                             Clock::time_point deadline) {
    using namespace std::chrono;
    const auto left = duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
        errno = ETIMEDOUT;
        return -1;
    }
    const milliseconds wait = left + milliseconds(1);
    if (blockingReads && (readTimeout.count() == 0 || wait < readTimeout)) {
        const timeval tv{static_cast<time_t>(wait.count() / 1000),
                         static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
        if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0)
            readTimeout = wait;
        else
            blockingReads = false;
    }
    if (blockingReads) return ::recv(fd, data, size, 0);
    if (!WaitFor(fd, POLLIN, deadline)) {
        errno = ETIMEDOUT;
        return -1;
    }
    return ::recv(fd, data, size, MSG_DONTWAIT);
}

// The body is limited while it is read, so a huge answer is dropped before it fills the memory.
// The socket is written and read directly (send, recv, Beast's parser): a call costs a few
// system calls and no event loop.
void TTcpTransport::Plain::Exchange(const TNetRequest& request, Clock::time_point deadline,
                                    TNetAnswer& answer) {
    const String text = RequestText(request, host);
    const int fd = stream->socket().native_handle();
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
    if (ec) WriteFailed(ec);

    Parser parser;
    Prepare(parser, answer);
    parser.eager(true);
    bool headerChecked = false;
    bool waitFirst = true;
    while (!ec) {
        if (buffer.size() > 0) {
            const size_t used = parser.put(buffer.data(), ec);
            buffer.consume(used);
            if (ec == http::error::need_more) ec = {};
            if (ec) break;
            // The header first: a declared length over the limit ends the answer before its
            // body, whatever the parser's own limit makes of it.
            if (parser.is_header_done() && !headerChecked) {
                headerChecked = true;
                if (parser.content_length() && *parser.content_length() > answerLimit) {
                    ec = http::error::body_limit;
                    break;
                }
            }
            if (parser.is_done()) break;
            if (used > 0 && buffer.size() > 0) continue;
        }
        if (buffer.size() >= buffer.max_size()) {
            ec = http::error::buffer_overflow;
            break;
        }
        // The answer takes the server a while: the first read waits for it; once it flows,
        // reads go first and wait only when nothing is there, so a long answer is drained at
        // the pace it comes.
        auto space = buffer.prepare(std::min<size_t>(65536, buffer.max_size() - buffer.size()));
        const ssize_t n = waitFirst ? ReceiveWaiting(fd, space.data(), space.size(), deadline)
                                    : ::recv(fd, space.data(), space.size(), MSG_DONTWAIT);
        if (n < 0 && errno == ETIMEDOUT) {
            ec = beast::error::timeout;
            break;
        }
        waitFirst = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        if (n > 0) {
            buffer.commit(static_cast<size_t>(n));
        } else if (n == 0) {
            // Closed by the server: an answer ends here only if it had no length.
            if (!parser.got_some()) {
                ec = buffer.size() ? http::error::partial_message : http::error::end_of_stream;
            } else {
                parser.put_eof(ec);
                if (!ec && !parser.is_done()) ec = http::error::partial_message;
                if (!ec) break;
            }
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            ec.assign(errno, boost::system::system_category());
        }
    }
    if (ec) ReadFailed(ec);
    Answer(parser, answer);
}
