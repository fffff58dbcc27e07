#include "HttpServer.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <fcntl.h>
#include <iostream>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {
constexpr std::chrono::seconds kWriteTimeout{30};
constexpr std::chrono::seconds kLingerTimeout{2};
constexpr std::chrono::seconds kHandshakeTimeout{10};
// How often deadlines are looked at: a timeout ends up to this much late.
constexpr std::chrono::milliseconds kSweepInterval{250};
// Of an answer with a body whose reply names no type.
constexpr const char* kDefaultContentType = "application/json; charset=utf-8";

using TlsStream = beast::ssl_stream<beast::tcp_stream>;
using Executor = asio::io_context::executor_type;

beast::tcp_stream& Lowest(beast::tcp_stream& s) {
    return s;
}
beast::tcp_stream& Lowest(TlsStream& s) {
    return beast::get_lowest_layer(s);
}
} // namespace

// One client connection over a plain TCP stream or a TLS stream on top of it.
template <class Stream>
class HttpConnection : public HttpConnectionBase,
                       public std::enable_shared_from_this<HttpConnection<Stream>> {
public:
    HttpConnection(Stream stream, HttpServer& server)
        : stream_(std::move(stream)), server_(server) {}
    ~HttpConnection() override {
        std::lock_guard lock(server_.connectionsMutex_);
        server_.connections_.erase(this);
    }

    void Start() {
        // A save's request (a few KiB) is read in one piece rather than in growing ones.
        buffer_.reserve(16 << 10);
        {
            std::lock_guard lock(server_.connectionsMutex_);
            server_.connections_.emplace(this, this->weak_from_this());
        }
        beast::error_code ec;
        Lowest(stream_).socket().set_option(tcp::no_delay(true), ec);
        if (const auto peer = Lowest(stream_).socket().remote_endpoint(ec); !ec)
            remoteAddress_ = peer.address().to_string();
        if constexpr (std::is_same_v<Stream, TlsStream>) {
            // A client that never finishes its handshake is let go like an idle one.
            SetDeadline(kHandshakeTimeout);
            stream_.async_handshake(asio::ssl::stream_base::server,
                                    [self = this->shared_from_this()](beast::error_code e) {
                                        if (e) return self->Close();
                                        self->Read();
                                    });
        } else {
            Read();
        }
    }

    // From the server's sweep: the connection's own thread decides, since the deadline may have
    // moved meanwhile. What is under way then ends with an error, which closes the connection.
    void ExpireIfDue() override {
        asio::dispatch(Lowest(stream_).get_executor(), [self = this->shared_from_this()] {
            if (self->Due(std::chrono::steady_clock::now())) {
                beast::error_code ec;
                Lowest(self->stream_).socket().cancel(ec);
            }
        });
    }

    // From the thread that stops the server: the connection's own thread decides, since a call
    // may be running on it.
    void StopIfIdle() override {
        asio::dispatch(Lowest(stream_).get_executor(), [self = this->shared_from_this()] {
            if (!self->busy_) Lowest(self->stream_).cancel();
        });
    }

private:
    void Read() {
        parser_.emplace();
        parser_->body_limit(server_.options_.bodyLimit);
        SetDeadline(server_.options_.idleTimeout);
        http::async_read(
            stream_, buffer_, *parser_,
            beast::bind_front_handler(&HttpConnection::OnRead, this->shared_from_this()));
    }

    void OnRead(beast::error_code ec, size_t) {
        ClearDeadline();
        if (ec == http::error::body_limit) {
            busy_ = true;
            Write(ErrorReply(413, "Requisição excede o limite de 1 MiB."), false,
                  parser_->get().version());
            return;
        }
        if (ec) {
            // A request cut short by a malformed header is answered; a closed, idle or
            // cancelled connection just ends.
            if (ec.category() == http::make_error_code(http::error::bad_target).category() &&
                ec != http::error::end_of_stream && ec != http::error::partial_message) {
                busy_ = true;
                Write(ErrorReply(400, "Requisição HTTP malformada."), false, 11);
                return;
            }
            Close();
            return;
        }
        busy_ = true;
        http::request<http::string_body> req = parser_->release();
        HttpRequestInfo info;
        info.method = std::string(req.method_string());
        info.target = std::string(req.target());
        info.body = std::move(req.body());
        for (const auto& field : req)
            info.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        info.remoteAddress = remoteAddress_;
        // After CONNECT the client may send anything: the connection is not reused.
        const bool keepAlive = req.keep_alive() && req.method() != http::verb::connect;
        const unsigned version = req.version();
        try {
            server_.handler_(std::move(info), [self = this->shared_from_this(), keepAlive,
                                               version](HttpReply reply) {
                if (self->OnOwnThread())
                    self->Write(std::move(reply), keepAlive, version);
                else
                    self->WriteFromWorker(std::move(reply), keepAlive, version);
            });
        } catch (const std::exception& e) {
            // Nothing a request holds may end the network loop; the log says what happened.
            std::cerr << "appserver: requisição descartada: " << e.what() << std::endl;
            Write(ErrorReply(500, "Erro interno do servidor de aplicação."), false, version);
        }
    }

    // Whether this is the connection's network thread (an answer given where it was read).
    bool OnOwnThread() {
        const auto executor = Lowest(stream_).get_executor(); // target() points into it
        const auto* context = executor.template target<Executor>();
        return context && context->running_in_this_thread();
    }

    HttpReply ErrorReply(unsigned status, const std::string& message) {
        return {status, server_.options_.errorBody ? server_.options_.errorBody(status, message)
                                                   : std::string()};
    }

    void Write(HttpReply reply, bool keepAlive, unsigned version) {
        auto res = MakeResponse(std::move(reply), keepAlive, version);
        SetDeadline(kWriteTimeout);
        http::async_write(stream_, *res,
                          [self = this->shared_from_this(), res](beast::error_code ec, size_t) {
                              self->OnWrite(ec, res->keep_alive());
                          });
    }

    // On the worker that ran the call: the answer goes to the socket at once, without waiting
    // for the network thread to wake. Nothing else uses the socket while a call is in flight (the
    // connection reads again only after its answer is written); the network thread then carries
    // on, writing whatever the socket could not take at once.
    // A TLS answer must be encrypted by the stream, on the network thread.
    void WriteFromWorker(HttpReply reply, bool keepAlive, unsigned version) {
        if constexpr (std::is_same_v<Stream, TlsStream>) {
            asio::post(Lowest(stream_).get_executor(),
                       [self = this->shared_from_this(), reply = std::move(reply), keepAlive,
                        version]() mutable { self->Write(std::move(reply), keepAlive, version); });
        } else {
            WritePlainFromWorker(std::move(reply), keepAlive, version);
        }
    }

    void WritePlainFromWorker(HttpReply reply, bool keepAlive, unsigned version) {
        auto res = MakeResponse(std::move(reply), keepAlive, version);
        auto bytes = std::make_shared<std::string>(Serialize(*res));
        const bool keep = res->keep_alive();
        size_t sent = 0;
        int error = 0;
        const int fd = stream_.socket().native_handle();
        while (sent < bytes->size()) {
            const ssize_t n =
                ::send(fd, bytes->data() + sent, bytes->size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                sent += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) error = errno;
                break;
            }
        }
        asio::post(
            stream_.get_executor(), [self = this->shared_from_this(), bytes, sent, error, keep] {
                if (error)
                    return self->OnWrite(beast::error_code(error, boost::system::system_category()),
                                         keep);
                if (sent == bytes->size()) return self->OnWrite({}, keep);
                self->SetDeadline(kWriteTimeout);
                asio::async_write(
                    self->stream_, asio::buffer(bytes->data() + sent, bytes->size() - sent),
                    [self, bytes, keep](beast::error_code ec, size_t) { self->OnWrite(ec, keep); });
            });
    }

    static std::string Serialize(http::response<http::string_body>& res) {
        http::response_serializer<http::string_body> sr{res};
        std::string out;
        beast::error_code ec;
        while (!sr.is_done() && !ec)
            sr.next(ec, [&](beast::error_code&, const auto& buffers) {
                for (const auto b : beast::buffers_range_ref(buffers))
                    out.append(static_cast<const char*>(b.data()), b.size());
                sr.consume(beast::buffer_bytes(buffers));
            });
        return out;
    }

    std::shared_ptr<http::response<http::string_body>> MakeResponse(HttpReply reply, bool keepAlive,
                                                                    unsigned version) {
        auto res = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(reply.status), version);
        res->set(http::field::server, "appserver");
        if (!reply.body.empty())
            res->set(http::field::content_type,
                     reply.contentType.empty() ? kDefaultContentType : reply.contentType);
        if (!reply.allow.empty()) res->set(http::field::allow, reply.allow);
        for (const auto& [name, value] : reply.headers)
            res->set(name, value);
        res->body() = std::move(reply.body);
        res->keep_alive(keepAlive && !server_.stopping_);
        res->prepare_payload();
        return res;
    }

    void OnWrite(beast::error_code ec, bool keepAlive) {
        busy_ = false;
        if (ec) return Close();
        if (!keepAlive || server_.stopping_) return Linger();
        Read();
    }

    void Close() {
        beast::error_code ec;
        Lowest(stream_).socket().shutdown(tcp::socket::shutdown_both, ec);
        Lowest(stream_).socket().close(ec);
    }

    // Closing with unread input (the rest of a refused body) would reset the connection and
    // could destroy the answer before the client reads it: shut down sending, then drain.
    void Linger() {
        beast::error_code ec;
        Lowest(stream_).socket().shutdown(tcp::socket::shutdown_send, ec);
        SetDeadline(kLingerTimeout);
        Drain();
    }

    void Drain() {
        stream_.async_read_some(asio::buffer(drain_),
                                [self = this->shared_from_this()](beast::error_code ec, size_t) {
                                    if (ec) return self->Close();
                                    self->Drain();
                                });
    }

    Stream stream_;
    HttpServer& server_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::array<char, 4096> drain_;
    std::string remoteAddress_; // the client's, read once
    bool busy_ = false;
};

HttpServer::HttpServer(asio::io_context& io, const tcp::endpoint& endpoint, Handler handler,
                       HttpServerOptions options)
    : io_(io), acceptor_(io), retry_(io), sweep_(io), handler_(std::move(handler)),
      options_(std::move(options)) {
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen(asio::socket_base::max_listen_connections);
    reserveFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const std::string message =
        "Servidor de aplicação sobrecarregado: tente novamente em instantes.";
    const std::string body = options_.errorBody ? options_.errorBody(503, message) : "";
    overloaded_ = "HTTP/1.1 503 Service Unavailable\r\nServer: appserver\r\nConnection: close\r\n"
                  "Retry-After: 1\r\n";
    if (!body.empty()) overloaded_ += std::string("Content-Type: ") + kDefaultContentType + "\r\n";
    overloaded_ += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

HttpServer::~HttpServer() {
    if (reserveFd_ >= 0) ::close(reserveFd_);
}

void HttpServer::Start() {
    Accept();
    Sweep();
}

// Deadlines are kept by the connections and looked at here every so often, instead of a timer
// armed and cancelled around every read and write of every connection (two system calls each).
void HttpServer::Sweep() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::shared_ptr<HttpConnectionBase>> due;
    bool any = false;
    {
        std::lock_guard lock(connectionsMutex_);
        any = !connections_.empty();
        for (const auto& [c, weak] : connections_)
            if (c->Due(now))
                if (auto live = weak.lock()) due.push_back(std::move(live));
    }
    for (const auto& c : due)
        c->ExpireIfDue();
    // Once stopped, the sweep goes on only while connections are left to end.
    if (stopping_ && !any) return;
    sweep_.expires_after(kSweepInterval);
    sweep_.async_wait([this](beast::error_code ec) {
        if (!ec) Sweep();
    });
}

void HttpServer::Accept() {
    // Connections are dealt out over the network threads' contexts in turn.
    asio::io_context& context =
        options_.connectionContexts.empty()
            ? io_
            : *options_.connectionContexts[nextContext_++ % options_.connectionContexts.size()];
    acceptor_.async_accept(context, [this](beast::error_code ec, tcp::socket socket) {
        if (stopping_ || ec == asio::error::operation_aborted) return;
        if (!ec) {
            if (shedding_) {
                shedding_ = false;
                std::cerr << "appserver: descritores livres de novo; conexões aceitas normalmente"
                          << std::endl;
            }
            if (options_.tls)
                std::make_shared<HttpConnection<TlsStream>>(
                    TlsStream(beast::tcp_stream(std::move(socket)), *options_.tls), *this)
                    ->Start();
            else
                std::make_shared<HttpConnection<beast::tcp_stream>>(
                    beast::tcp_stream(std::move(socket)), *this)
                    ->Start();
            return Accept();
        }
        // Out of descriptors or the like: the waiting clients are answered 503 and let go, so
        // none hangs in the queue, and accepting is tried again shortly instead of spinning.
        if (!shedding_) {
            shedding_ = true;
            std::cerr << "appserver: falha ao aceitar conexão (" << ec.message()
                      << "); conexões novas recebem 503 até que haja descritores livres"
                      << std::endl;
        }
        Shed();
        retry_.expires_after(std::chrono::milliseconds(100));
        retry_.async_wait([this](beast::error_code e) {
            if (!e && !stopping_) Accept();
        });
    });
}

// The descriptor kept in reserve is given up for a moment to take each waiting connection,
// answer it 503 and close it.
void HttpServer::Shed() {
    if (reserveFd_ >= 0) {
        ::close(reserveFd_);
        reserveFd_ = -1;
    }
    const int listenFd = acceptor_.native_handle();
    for (int shed = 0; shed < 64; ++shed) {
        pollfd p{listenFd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0) break;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) break;
        (void)!::send(fd, overloaded_.data(), overloaded_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
    reserveFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void HttpServer::Stop() {
    if (stopping_.exchange(true)) return;
    beast::error_code ec;
    acceptor_.close(ec);
    retry_.cancel();
    std::vector<std::shared_ptr<HttpConnectionBase>> open;
    {
        std::lock_guard lock(connectionsMutex_);
        for (const auto& [c, weak] : connections_)
            if (auto live = weak.lock()) open.push_back(std::move(live));
    }
    for (const auto& c : open)
        c->StopIfIdle();
}

size_t HttpServer::ConnectionCount() const {
    std::lock_guard lock(connectionsMutex_);
    return connections_.size();
}
