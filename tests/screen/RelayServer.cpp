#include "RelayServer.h"

#include "ServerHarness.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using nlohmann::json;

struct RelayServer::Impl {
    explicit Impl(int upstreamPort) : upstream(upstreamPort) {}

    asio::io_context io;
    tcp::acceptor acceptor{io, {asio::ip::make_address("127.0.0.1"), 0}};
    HttpClient upstream; // used on the relay's thread only
    mutable std::mutex mutex;
    std::map<std::string, json> answers;
    std::map<std::string, int> calls;
    std::thread thread;

    http::response<http::string_body> Respond(const http::request<http::string_body>& req) {
        http::response<http::string_body> res{http::status::ok, req.version()};
        res.set(http::field::content_type, "application/json; charset=utf-8");
        res.keep_alive(req.keep_alive());
        const json call = json::parse(req.body(), nullptr, false);
        if (req.method() == http::verb::post && call.is_object() && call.contains("method")) {
            const std::string method = call.value("method", "");
            std::lock_guard lock(mutex);
            ++calls[method];
            if (auto it = answers.find(method); it != answers.end()) {
                res.body() = json{
                    {"jsonrpc", "2.0"},
                    {"id", call.value("id", json())},
                    {"result",
                     it->second}}.dump();
                res.prepare_payload();
                return res;
            }
        }
        std::map<std::string, std::string> headers;
        for (const auto& f : req)
            if (f.name_string() == "X-Operator") headers["X-Operator"] = std::string(f.value());
        const HttpResult passed = upstream.Send(std::string(req.method_string()),
                                                std::string(req.target()), req.body(), headers);
        res.result(static_cast<unsigned>(passed.status));
        res.body() = passed.body;
        res.prepare_payload();
        return res;
    }

    struct Session : std::enable_shared_from_this<Session> {
        Session(Impl* o, tcp::socket s) : owner(o), socket(std::move(s)) {}
        Impl* owner;
        tcp::socket socket;
        beast::flat_buffer buffer;
        http::request<http::string_body> req;
        http::response<http::string_body> res;

        void Read() {
            req = {};
            http::async_read(socket, buffer, req,
                             [self = shared_from_this()](beast::error_code ec, size_t) {
                                 if (!ec) self->Write();
                             });
        }
        void Write() {
            res = owner->Respond(req);
            http::async_write(socket, res,
                              [self = shared_from_this()](beast::error_code ec, size_t) {
                                  if (!ec && self->res.keep_alive()) self->Read();
                              });
        }
    };

    void Accept() {
        acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
            if (ec) return;
            socket.set_option(tcp::no_delay(true));
            std::make_shared<Session>(this, std::move(socket))->Read();
            Accept();
        });
    }
};

RelayServer::RelayServer(int upstreamPort) : impl_(std::make_unique<Impl>(upstreamPort)) {
    impl_->Accept();
    impl_->thread = std::thread([this] { impl_->io.run(); });
}

RelayServer::~RelayServer() {
    impl_->io.stop();
    impl_->thread.join();
}

int RelayServer::Port() const {
    return impl_->acceptor.local_endpoint().port();
}

void RelayServer::Answer(const std::string& method, const json& result) {
    std::lock_guard lock(impl_->mutex);
    impl_->answers[method] = result;
}

int RelayServer::Calls(const std::string& method) const {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->calls.find(method);
    return it == impl_->calls.end() ? 0 : it->second;
}
