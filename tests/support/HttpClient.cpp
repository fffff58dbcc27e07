#include "HttpClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <poll.h>
#include <sys/socket.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using nlohmann::json;

struct HttpClient::Impl {
    asio::io_context io;
    std::optional<beast::tcp_stream> stream;
    beast::flat_buffer buffer;
};

HttpClient::HttpClient(int port) : impl_(std::make_unique<Impl>()), port_(port) {}
HttpClient::~HttpClient() = default;

HttpResult HttpClient::Send(const std::string& verb, const std::string& target,
                            const std::string& body,
                            const std::map<std::string, std::string>& headers) {
    for (int attempt = 0;; ++attempt) {
        const bool reused = impl_->stream.has_value();
        try {
            if (!impl_->stream) {
                impl_->stream.emplace(impl_->io);
                impl_->stream->expires_after(std::chrono::seconds(30));
                impl_->stream->connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"),
                                                     static_cast<unsigned short>(port_)));
                impl_->stream->socket().set_option(tcp::no_delay(true));
                impl_->buffer.clear();
                ++connects_;
            }
            http::request<http::string_body> req;
            req.method_string(verb);
            req.target(target);
            req.version(11);
            req.set(http::field::host, "127.0.0.1");
            req.set(http::field::content_type, "application/json");
            if (!token_.empty()) req.set(http::field::authorization, "Bearer " + token_);
            for (const auto& [k, v] : headers)
                req.set(k, v);
            req.body() = body;
            req.keep_alive(true);
            req.prepare_payload();
            impl_->stream->expires_after(std::chrono::seconds(30));
            http::write(*impl_->stream, req);
            http::response_parser<http::string_body> parser;
            parser.body_limit(64 << 20);
            http::read(*impl_->stream, impl_->buffer, parser);
            auto res = parser.release();
            HttpResult out;
            out.status = static_cast<int>(res.result_int());
            out.body = res.body();
            for (const auto& f : res)
                out.headers[std::string(f.name_string())] = std::string(f.value());
            if (!res.keep_alive()) impl_->stream.reset();
            return out;
        } catch (const boost::system::system_error&) {
            impl_->stream.reset();
            if (reused && attempt == 0) continue; // the server closed the idle connection
            throw;
        }
    }
}

json HttpClient::Call(const std::string& method, const json& params,
                      const std::optional<std::string>& operatorName) {
    static std::atomic<int> id{0};
    const json call = {{"jsonrpc", "2.0"}, {"id", ++id}, {"method", method}, {"params", params}};
    std::map<std::string, std::string> headers;
    if (operatorName) headers["X-Operator"] = *operatorName;
    return Send("POST", "/rpc/Kxf27400.rdmParamForne", call.dump(), headers).Json();
}

bool HttpClient::ClosedByServer(int waitMs) {
    if (!impl_->stream) return true;
    pollfd p{impl_->stream->socket().native_handle(), POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return false;
    char c;
    return recv(p.fd, &c, 1, MSG_PEEK) == 0;
}
