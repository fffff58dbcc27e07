#include "BenchServer.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

int Spawn(std::vector<std::string> args, int outFd) {
    args.insert(args.begin(), std::string(KX_BIN_DIR) + "/appserver");
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (outFd >= 0) dup2(outFd, 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2); // the server's request log would drown the table
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

} // namespace

BenchServer::BenchServer() {
    char pattern[] = "/tmp/kx-bench-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    url_ = "sqlite:" + dir_ + "/kx.db";
    int status = 0;
    waitpid(Spawn({"init", "--db", url_, "--demo"}, -1), &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("appserver init falhou");

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ =
        Spawn({"serve", "--db", url_, "--listen", "127.0.0.1:0", "--today", "2026-12-08"}, fds[1]);
    close(fds[1]);
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char buf[256];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) throw std::runtime_error("appserver não iniciou: " + line);
    port_ = std::stoi(line.substr(prefix.size()));
}

BenchServer::~BenchServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

BenchServer& BenchServer::Shared() {
    static BenchServer server;
    return server;
}
