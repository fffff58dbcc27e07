#include "InProcessServer.h"

#include "Database.h"
#include "ModuleRegistry.h"
#include "RdmParamForne.h"
#include "RpcError.h"
#include "RpcService.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <arpa/inet.h>
#include <future>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace asio = boost::asio;

namespace {

// Binds 127.0.0.1:port (0: a free one) without listening; the descriptor, and the port taken.
int HoldPort(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        if (fd >= 0) close(fd);
        throw std::runtime_error("servidor em processo: porta " + std::to_string(port) +
                                 " ocupada");
    }
    port = ntohs(a.sin_port);
    return fd;
}

} // namespace

struct InProcessServer::Core {
    Core(const std::string& dbUrl, const std::string& today, int wantedPort, bool sessions)
        : db(dbUrl), guard(asio::make_work_guard(io)), port(wantedPort) {
        portFd = HoldPort(this->port);
        modules.Add(std::make_unique<RdmParamForne>());
        std::optional<std::string> fixedToday;
        if (!today.empty()) fixedToday = today;
        service = std::make_unique<RpcService>(modules, db, fixedToday, io, 2);
        AuthOptions auth;
        auth.required = sessions;
        service->SetAuth(auth);
        thread = std::thread([this] { io.run(); });
    }

    ~Core() {
        service.reset(); // waits for the calls running; their answers come back through io
        guard.reset();
        io.stop();
        thread.join();
        close(portFd);
    }

    // One request on the io thread, as the HTTP side hands it over; nullopt when the answer did
    // not come by the deadline (the call goes on in the server, as it would behind a socket).
    std::optional<HttpReply> Exchange(HttpRequestInfo request,
                                      std::chrono::steady_clock::time_point deadline) {
        auto answer = std::make_shared<std::promise<HttpReply>>();
        std::future<HttpReply> reply = answer->get_future();
        asio::post(io, [this, request = std::move(request), answer]() mutable {
            try {
                service->Handle(std::move(request),
                                [answer](HttpReply r) { answer->set_value(std::move(r)); });
            } catch (const std::exception&) {
                answer->set_value({500,
                                   RpcService::ErrorBody(nullptr, kRpcInternalError,
                                                         "Erro interno do servidor de aplicação."),
                                   ""});
            }
        });
        if (reply.wait_until(deadline) != std::future_status::ready) return std::nullopt;
        return reply.get();
    }

    Database db;
    ModuleRegistry modules;
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> guard;
    std::unique_ptr<RpcService> service;
    std::thread thread;
    int port;
    int portFd = -1;
};

namespace {

std::mutex registryMutex;
std::map<int, std::weak_ptr<InProcessServer::Core>> registry; // by port

class InProcessTransport : public TNetTransport {
public:
    InProcessTransport(std::weak_ptr<InProcessServer::Core> server, String where)
        : server_(std::move(server)), where_(std::move(where)) {}

    void Open(Clock::time_point, int) override {
        if (server_.expired())
            throw TNetTransportError::CannotConnect(where_, "conexão recusada", false);
    }

    bool Stale() override { return server_.expired(); }

    TNetAnswer Exchange(const TNetRequest& request, Clock::time_point deadline) override {
        std::shared_ptr<InProcessServer::Core> server = server_.lock();
        if (!server)
            throw TNetTransportError::CannotConnect(where_, "conexão encerrada pelo servidor",
                                                    false);
        HttpRequestInfo info;
        info.method = request.post ? "POST" : "GET";
        info.target = request.target;
        info.body = request.body;
        info.remoteAddress = "127.0.0.1";
        if (!request.operatorName.empty())
            info.headers.push_back({"X-Operator", request.operatorName});
        if (!request.idempotencyKey.empty())
            info.headers.push_back({"Idempotency-Key", request.idempotencyKey});
        if (!request.token.empty())
            info.headers.push_back({"Authorization", "Bearer " + request.token});
        std::optional<HttpReply> reply = server->Exchange(std::move(info), deadline);
        if (!reply) throw TNetTransportError::NoAnswerInTime(where_);
        return {reply->status, std::move(reply->body)};
    }

private:
    std::weak_ptr<InProcessServer::Core> server_;
    String where_;
};

} // namespace

InProcessServer::InProcessServer(const std::string& dbUrl, const std::string& today, int port,
                                 bool sessions)
    : core_(std::make_shared<Core>(dbUrl, today, port, sessions)), port_(core_->port) {
    std::lock_guard lock(registryMutex);
    registry[port_] = core_;
}

InProcessServer::~InProcessServer() {
    Stop();
}

void InProcessServer::Stop() {
    if (!core_) return;
    {
        std::lock_guard lock(registryMutex);
        registry.erase(port_);
    }
    core_.reset();
}

TNetTransportFactory InProcessTransports() {
    return [](const String& host, int port) -> std::unique_ptr<TNetTransport> {
        if (host != "127.0.0.1" && host != "localhost") return nullptr;
        std::lock_guard lock(registryMutex);
        auto it = registry.find(port);
        if (it == registry.end() || it->second.expired()) return nullptr;
        return std::make_unique<InProcessTransport>(it->second, host + ":" + std::to_string(port));
    };
}
