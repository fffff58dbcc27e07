#include "HostappProcess.h"

#include "ChildProcess.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

std::string HostappPath() {
    return std::string(KX_BIN_DIR) + "/hostapp";
}

HostappProcess::HostappProcess(const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& env) {
    // A hostapp that died must fail the test, not kill it with SIGPIPE on the next write.
    signal(SIGPIPE, SIG_IGN);
    char pattern[] = "/tmp/kx-e2e-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    errPath_ = dir_ + "/stderr";
    int inPipe[2], outPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const int err = open(errPath_.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    ChildCommand command;
    command.argv = {HostappPath()};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    for (const char* v : {"KX_DB", "KX_SERVER", "KX_OPERATOR", "KX_PASSWORD"})
        command.env[v] = std::nullopt;
    for (const auto& [k, v] : env)
        command.env[k] = v;
    command.in = inPipe[0];
    command.out = outPipe[1];
    command.err = err;
    pid_ = StartChild(command);
    close(inPipe[0]);
    close(outPipe[1]);
    close(err);
    in_ = inPipe[1];
    out_ = outPipe[0];
}

HostappProcess::~HostappProcess() {
    if (pid_ > 0) Finish(5000);
    if (out_ >= 0) close(out_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void HostappProcess::Write(const std::string& text) {
    size_t done = 0;
    while (in_ >= 0 && done < text.size()) {
        const ssize_t n = write(in_, text.data() + done, text.size() - done);
        if (n <= 0) return; // the process is gone; the read that follows reports it
        done += static_cast<size_t>(n);
    }
}

bool HostappProcess::Fill(int timeoutMs) {
    if (eof_) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char buf[65536];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) {
        eof_ = true;
        return false;
    }
    buffer_.append(buf, static_cast<size_t>(n));
    return true;
}

std::optional<std::string> HostappProcess::ReadLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (const auto nl = buffer_.find('\n'); nl != std::string::npos) {
            std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || eof_) return std::nullopt;
        Fill(static_cast<int>(left.count()));
    }
}

nlohmann::json HostappProcess::Send(const std::string& line) {
    Write(line + "\n");
    const auto answer = ReadLine();
    if (!answer)
        return {{"ok", false}, {"error", "(e2e) sem resposta a " + line + "; stderr: " + Stderr()}};
    try {
        return nlohmann::json::parse(*answer);
    } catch (const nlohmann::json::exception&) {
        return {{"ok", false}, {"error", "(e2e) resposta não é JSON: " + *answer}};
    }
}

int HostappProcess::Finish(int timeoutMs) {
    if (in_ >= 0) {
        close(in_);
        in_ = -1;
    }
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!eof_ && std::chrono::steady_clock::now() < deadline)
        Fill(100);
    while (auto line = ReadLine(0))
        remaining_.push_back(*line);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        usleep(10000);
    }
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::string HostappProcess::Stderr() const {
    std::ifstream in(errPath_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
