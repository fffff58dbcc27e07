// The HTTP server on its own, with a handler that knows nothing of JSON-RPC: the headers it hands
// on and the answers it gives by itself, in the form its owner chose.
#include "HttpServer.h"
#include "HttpClient.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <stdexcept>
#include <thread>

namespace {

TEST(HttpRequestInfoTest, HeaderIsTheFirstOfItsNameInAnyCase) {
    HttpRequestInfo request;
    request.headers = {{"x-operator", "Ana"},
                       {"X-Operator", "Bia"},
                       {"Idempotency-Key", ""},
                       {"X-Operators", "Caio"}};
    const struct {
        const char* name;
        std::optional<std::string> value;
    } rows[] = {
        {"X-Operator", "Ana"},   {"X-OPERATOR", "Ana"}, {"idempotency-key", ""},
        {"X-Operators", "Caio"}, {"X-Operato", {}},     {"Authorization", {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(request.Header(row.name), row.value) << row.name;
}

// A server whose handler echoes the headers an RPC service reads, or throws on /throw.
class HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        HttpServerOptions options;
        options.bodyLimit = 64;
        options.errorBody = [](unsigned status, const std::string& message) {
            return std::to_string(status) + " " + message;
        };
        server_.emplace(
            io_, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0),
            [](HttpRequestInfo request, std::function<void(HttpReply)> done) {
                if (request.target == "/throw") throw std::runtime_error("falha do handler");
                std::string echo;
                for (const char* name : {"X-Operator", "Idempotency-Key", "X-Request-Id"})
                    echo += request.Header(name).value_or("-") + "|";
                done({200, echo + request.body});
            },
            options);
        server_->Start();
        thread_ = std::thread([this] { io_.run(); });
        client_.emplace(server_->LocalEndpoint().port());
    }
    void TearDown() override {
        client_.reset();
        boost::asio::post(io_, [this] { server_->Stop(); });
        thread_.join();
    }

    boost::asio::io_context io_{1};
    std::optional<HttpServer> server_;
    std::thread thread_;
    std::optional<HttpClient> client_;
};

TEST_F(HttpServerTest, HandsOnHeadersAndAnswersItsOwnErrorsInTheOwnersForm) {
    const struct {
        const char* name;
        const char* target;
        std::string body;
        std::map<std::string, std::string> headers;
        int status;
        std::string answer;
    } rows[] = {
        {"cabeçalhos em qualquer caixa",
         "/echo",
         "corpo",
         {{"x-operator", "Ana Lúcia"}, {"IDEMPOTENCY-KEY", "k-1"}},
         200,
         "Ana Lúcia|k-1|-|corpo"},
        {"corpo além do limite",
         "/echo",
         std::string(65, 'x'),
         {},
         413,
         "413 Requisição excede o limite de 1 MiB."},
        {"handler que lança", "/throw", "", {}, 500, "500 Erro interno do servidor de aplicação."},
    };
    for (const auto& row : rows) {
        const HttpResult r = client_->Send("POST", row.target, row.body, row.headers);
        EXPECT_EQ(r.status, row.status) << row.name;
        EXPECT_EQ(r.body, row.answer) << row.name;
    }
}

} // namespace
