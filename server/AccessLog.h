// One key=value line per call on standard error (journald keeps it under systemd). Calls only
// queue their line; a writer thread writes the queue out in batches (within about 50 ms), so a
// slow or stalled log costs the calls nothing. When the queue is full, lines are dropped and
// counted rather than making calls wait.
#pragma once

#include "CallRecord.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class AccessLog {
public:
    explicit AccessLog(int fd = 2, size_t maxPendingBytes = 4 << 20);
    ~AccessLog(); // writes what is queued, then stops the writer

    // Queues a line (a newline is added).
    void Write(std::string line);
    // Returns once everything queued before the call has been written.
    void Flush();
    uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

    // ts=... event=call id=... module=... method=... operator=... supplier=... duration_ms=...
    // outcome=... [code=... message="..."]
    static std::string CallLine(const CallRecord& record);
    // A message of the server's own (start, stop) in the same form: event=NAME msg="...".
    static std::string EventLine(const std::string& event, const std::string& message);
    // The value as it goes after "key=": bare when it is plain, else quoted with escapes; bytes
    // that are not valid UTF-8 or are control characters are written as \xHH.
    static std::string Value(const std::string& value);

private:
    void Run();

    int fd_;
    size_t maxPending_;
    std::mutex mutex_;
    std::condition_variable wake_, written_;
    std::string pending_;
    uint64_t queued_ = 0, done_ = 0; // lines, for Flush
    bool stop_ = false;
    bool flushWanted_ = false;
    static constexpr size_t kBatchBytes = 64 << 10;
    static constexpr std::chrono::milliseconds kBatchDelay{50};
    std::atomic<uint64_t> dropped_{0};
    std::thread writer_;
};
