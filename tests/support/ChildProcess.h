// Starts a program from a test that may already run threads (an in-process server, a client's
// I/O). Between fork and exec the child may only make async-signal-safe calls: a lock another
// thread held at the fork (the allocator's, the environment's) is never released in the child,
// which would hang before exec. So everything the child needs is built before the fork.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct ChildCommand {
    std::vector<std::string> argv; // argv[0] is the program's path
    // Variables set (a value) or removed (nullopt) on top of this process's environment.
    std::map<std::string, std::optional<std::string>> env;
    int in = -1, out = -1, err = -1; // descriptors for 0, 1 and 2 (-1 keeps this process's)
    unsigned long filesSoft = 0, filesHard = 0; // RLIMIT_NOFILE (0 keeps this process's)
};

// The child's process id; it is killed when the test process dies.
pid_t StartChild(const ChildCommand& command);
