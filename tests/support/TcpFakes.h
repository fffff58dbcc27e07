// Loopback servers a test serves by hand, for what the real server never does: stall, answer
// too much, answer a strange status, or lose an answer on the way (a proxy in front of it).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One HTTP message read by hand: head and a Content-Length body. Empty when the peer closed.
inline std::string ReadHttpMessage(int fd) {
    std::string data;
    char buf[65536];
    size_t headEnd = std::string::npos;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return "";
        data.append(buf, static_cast<size_t>(n));
    }
    size_t length = 0;
    std::string head = data.substr(0, headEnd);
    for (char& c : head)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (auto at = head.find("content-length:"); at != std::string::npos)
        length = std::stoul(head.substr(at + 15));
    while (data.size() < headEnd + 4 + length) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return "";
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

// Writes everything; the number of bytes written before the peer went away.
inline size_t WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

inline std::string HeaderOf(const std::string& message, const std::string& name) {
    std::string lower = message;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string key = name + ":";
    for (char& c : key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = lower.find("\r\n" + key);
    if (at == std::string::npos) return "";
    const auto start = message.find_first_not_of(' ', at + 2 + key.size());
    return message.substr(start, message.find("\r\n", start) - start);
}

inline std::string HttpAnswer(int status, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\n" +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Listens on 127.0.0.1 (port 0: a free one) and serves each connection in a thread of its own.
class FakeServer {
public:
    explicit FakeServer(std::function<void(int fd)> serve, int port = 0)
        : serve_(std::move(serve)) {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            listen(listen_, 16) != 0)
            throw std::runtime_error("FakeServer: porta ocupada");
        socklen_t len = sizeof a;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] {
            for (;;) {
                pollfd p{listen_, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0) {
                    if (stopping_) return;
                    continue;
                }
                const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) continue;
                std::lock_guard lock(mutex_);
                fds_.push_back(fd);
                threads_.emplace_back([this, fd] { serve_(fd); });
            }
        });
    }
    ~FakeServer() {
        stopping_ = true;
        acceptor_.join();
        {
            std::lock_guard lock(mutex_);
            for (int fd : fds_)
                shutdown(fd, SHUT_RDWR);
        }
        for (auto& t : threads_)
            t.join();
        for (int fd : fds_)
            close(fd);
        close(listen_);
    }
    int Port() const { return port_; }
    bool Stopping() const { return stopping_; }

private:
    std::function<void(int)> serve_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<int> fds_;
    std::vector<std::thread> threads_;
};

// A proxy to the server on `target` that loses the answer of the first `drop` saves
// (SetParamForn): it passes the request, waits for the server's answer and then closes the
// client's connection, or answers `instead` (a gateway's own error) when given. Keys() lists the
// Idempotency-Key of every POST, in order.
class LossyProxy {
public:
    LossyProxy(int target, int drop, std::string instead = "")
        : target_(target), drop_(drop), instead_(std::move(instead)),
          server_([this](int fd) { Serve(fd); }) {}
    int Port() const { return server_.Port(); }
    std::vector<std::string> Keys() {
        std::lock_guard lock(mutex_);
        return keys_;
    }

private:
    void Serve(int client) {
        const int up = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(target_));
        if (connect(up, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(up);
            return;
        }
        for (;;) {
            const std::string request = ReadHttpMessage(client);
            if (request.empty() || WriteAll(up, request) != request.size()) break;
            const std::string answer = ReadHttpMessage(up);
            if (answer.empty()) break;
            bool lose = false;
            if (request.rfind("POST", 0) == 0) {
                std::lock_guard lock(mutex_);
                keys_.push_back(HeaderOf(request, "Idempotency-Key"));
                if (request.find("\"SetParamForn\"") != std::string::npos && drop_ > 0) {
                    --drop_;
                    lose = true;
                }
            }
            if (lose && !instead_.empty()) {
                WriteAll(client, instead_);
                continue;
            }
            if (lose) {
                shutdown(client, SHUT_RDWR);
                break;
            }
            WriteAll(client, answer);
        }
        close(up);
    }

    int target_;
    int drop_;
    std::string instead_;
    std::mutex mutex_;
    std::vector<std::string> keys_;
    FakeServer server_;
};
