// hostapp as a child process: the script goes in through a pipe one line at a time and every
// answer line is read back before the next command is written, so a line the driver does not
// flush at once shows as a timeout instead of passing unnoticed.
#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

class HostappProcess {
public:
    // Starts KX_BIN_DIR/hostapp with args. env sets variables for the child; KX_DB, KX_SERVER,
    // KX_OPERATOR and KX_PASSWORD are removed first so the test's own environment never leaks in.
    explicit HostappProcess(const std::vector<std::string>& args,
                            const std::map<std::string, std::string>& env = {});
    ~HostappProcess();
    HostappProcess(const HostappProcess&) = delete;
    HostappProcess& operator=(const HostappProcess&) = delete;

    // Writes text as it stands (no newline added).
    void Write(const std::string& text);
    // The next line of stdout without its newline; nothing when none came within the time or
    // stdout ended.
    std::optional<std::string> ReadLine(int timeoutMs = 20000);
    // Writes one command line and parses the one answer line; a missing or unparsable answer
    // gives {"ok":false,"error":"(e2e) ..."} so the test reports it instead of crashing.
    nlohmann::json Send(const std::string& line);

    // Closes stdin, reads stdout to its end and waits for the exit; the exit code (-1 when the
    // process had to be killed). Lines not read before are returned by RemainingLines.
    int Finish(int timeoutMs = 20000);
    const std::vector<std::string>& RemainingLines() const { return remaining_; }
    std::string Stderr() const;

private:
    bool Fill(int timeoutMs);
    int pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffer_;
    bool eof_ = false;
    std::vector<std::string> remaining_;
    std::string errPath_;
    std::string dir_;
};

std::string HostappPath();
