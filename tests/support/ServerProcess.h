// The real appserver as a child process: a command run to its end, or the server listening on a
// loopback port until it is stopped.
#pragma once

#include "TempDir.h"

#include <string>
#include <vector>

std::string AppserverPath();

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Extra environment variables of a started appserver ("NAME=value").
using Environment = std::vector<std::string>;

// Runs appserver with the arguments (and `input` as its standard input) and waits for it.
RunResult RunAppserver(const std::vector<std::string>& args, const Environment& env = {},
                       const std::string& input = "");

// Starts appserver with its standard output and error on these descriptors and returns its
// process id; the caller waits for it.
int StartAppserver(const std::vector<std::string>& args, int outFd, int errFd);

// Descriptor limits the server starts with (0 keeps the test's own).
struct FileLimits {
    unsigned long soft = 0, hard = 0;
};

// In a started server's environment: leave --auth to the server's default instead of the
// harness's "--auth off" (which is added unless the test names --auth itself).
inline const std::string kServerDefaultAuth = "KX_TEST_DEFAULT_AUTH=1";

// appserver serve; an empty dbUrl leaves --db to the configuration file or environment.
class ServerProcess {
public:
    ServerProcess(const std::string& dbUrl, const std::vector<std::string>& extra = {},
                  const std::string& listen = "127.0.0.1:0", const Environment& env = {},
                  FileLimits limits = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    int Port() const { return port_; }
    int Pid() const { return pid_; }
    // SIGTERM, then the exit code (-1 when it had to be killed after the timeout).
    int Stop(int timeoutMs = 10000);
    bool Running();
    std::string Log() const;
    // The log once it holds `text` `times` times (the call log is written a batch at a time),
    // or as it stands after the timeout.
    std::string LogWith(const std::string& text, size_t times = 1, int timeoutMs = 5000) const;

private:
    int pid_ = -1;
    int port_ = 0;
    TempDir logDir_;
};
