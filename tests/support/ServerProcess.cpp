#include "ServerProcess.h"

#include "ChildProcess.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

std::string AppserverPath() {
    return std::string(KX_BIN_DIR) + "/appserver";
}

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts appserver; stdout and stderr go to the given descriptors.
int Spawn(const std::vector<std::string>& args, int outFd, int errFd, const Environment& env,
          FileLimits limits = {}, int inFd = -1) {
    ChildCommand command;
    command.argv.push_back(AppserverPath());
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    for (const std::string& e : env) {
        const size_t eq = e.find('=');
        if (eq != std::string::npos) command.env[e.substr(0, eq)] = e.substr(eq + 1);
    }
    command.in = inFd;
    command.out = outFd;
    command.err = errFd;
    command.filesSoft = limits.soft;
    command.filesHard = limits.hard;
    return StartChild(command);
}

int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

int StartAppserver(const std::vector<std::string>& args, int outFd, int errFd) {
    return Spawn(args, outFd, errFd, {});
}

RunResult RunAppserver(const std::vector<std::string>& args, const Environment& env,
                       const std::string& input) {
    TempDir dir;
    const std::string outPath = dir.Path() + "/out", errPath = dir.Path() + "/err",
                      inPath = dir.Path() + "/in";
    std::ofstream(inPath) << input;
    const int in = open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = open(outPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    const int err = open(errPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    const int pid = Spawn(args, out, err, env, {}, in);
    close(in);
    close(out);
    close(err);
    int status = 0;
    waitpid(pid, &status, 0);
    return {ExitCode(status), ReadFile(outPath), ReadFile(errPath)};
}

ServerProcess::ServerProcess(const std::string& dbUrl, const std::vector<std::string>& extra,
                             const std::string& listen, const Environment& env, FileLimits limits) {
    std::vector<std::string> args = {"serve", "--listen", listen};
    if (!dbUrl.empty()) args.insert(args.end(), {"--db", dbUrl}); // else from the settings
    args.insert(args.end(), extra.begin(), extra.end());
    // Tests that are not about signing in keep trusting X-Operator on loopback; those that are
    // say --auth themselves.
    bool authGiven = false;
    for (const std::string& a : extra)
        authGiven |= a == "--auth" || a.rfind("--auth=", 0) == 0;
    for (const std::string& e : env)
        authGiven |= e.rfind("KX_APPSERVER_AUTH=", 0) == 0 || e == kServerDefaultAuth;
    if (!authGiven) args.insert(args.end(), {"--auth", "off"});
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const std::string logPath = logDir_.Path() + "/stderr";
    const int err = open(logPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = Spawn(args, fds[1], err, env, limits);
    close(fds[1]);
    close(err);
    // The first stdout line tells the port; nothing else is read from it.
    std::string line;
    // Generous: a sanitizer build on a loaded machine starts slowly, and a server that fails says
    // so on its own well before.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char buf[256];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            line.append(buf, static_cast<size_t>(n));
        }
    }
    close(fds[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0 || line.back() != '\n')
        throw std::runtime_error("appserver não iniciou: \"" + line + "\"\n" + Log());
    port_ = std::stoi(line.substr(prefix.size()));
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0 && Running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ServerProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int ServerProcess::Stop(int timeoutMs) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return ExitCode(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return -1;
}

std::string ServerProcess::Log() const {
    return ReadFile(logDir_.Path() + "/stderr");
}

std::string ServerProcess::LogWith(const std::string& text, size_t times, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::string log = Log();
        size_t found = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++found;
        if (found >= times || std::chrono::steady_clock::now() >= deadline) return log;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
