#include "ChildProcess.h"

#include <csignal>
#include <cstring>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

extern char** environ;

pid_t StartChild(const ChildCommand& command) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        const std::string name(*e, eq ? static_cast<size_t>(eq - *e) : std::strlen(*e));
        if (!command.env.contains(name)) env.emplace_back(*e);
    }
    for (const auto& [name, value] : command.env)
        if (value) env.push_back(name + "=" + *value);
    std::vector<char*> argv, envp;
    for (const std::string& a : command.argv)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    rlimit files{};
    const bool limit = command.filesSoft || command.filesHard;
    if (limit) {
        getrlimit(RLIMIT_NOFILE, &files);
        if (command.filesHard) files.rlim_max = command.filesHard;
        if (command.filesSoft) files.rlim_cur = command.filesSoft;
    }

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid > 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL); // a test that crashes leaves no child behind
    // As a shell would start it, whatever a background job of a test run ignores.
    for (const int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM})
        signal(sig, SIG_DFL);
    if (limit) setrlimit(RLIMIT_NOFILE, &files);
    const int fds[] = {command.in, command.out, command.err};
    for (int target = 0; target < 3; ++target)
        if (fds[target] >= 0) dup2(fds[target], target);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
}
