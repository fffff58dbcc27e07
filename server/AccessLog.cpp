#include "AccessLog.h"

#include "host/rtl/Utf8.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <ctime>
#include <unistd.h>

namespace {

// The second's text is kept per thread: a server writes many lines a second.
std::string Timestamp() {
    const auto now = std::chrono::system_clock::now();
    const long long msSinceEpoch =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const std::time_t t = static_cast<std::time_t>(msSinceEpoch / 1000);
    const int ms = static_cast<int>(msSinceEpoch % 1000);
    thread_local std::time_t second = -1;
    thread_local char secondText[64];
    if (t != second) {
        std::tm tm{};
        gmtime_r(&t, &tm);
        std::snprintf(secondText, sizeof secondText, "%04d-%02d-%02dT%02d:%02d:%02d",
                      tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                      tm.tm_sec);
        second = t;
    }
    std::string out(secondText);
    out += '.';
    out += static_cast<char>('0' + ms / 100);
    out += static_cast<char>('0' + ms / 10 % 10);
    out += static_cast<char>('0' + ms % 10);
    out += 'Z';
    return out;
}

constexpr size_t kMessageMax = 300;

} // namespace

std::string AccessLog::Value(const std::string& value) {
    // Most values (names, codes, ids) need no quoting: written as they are.
    bool bare = !value.empty();
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= ' ' || c >= 0x7F || c == '=' || c == '"' || c == '\\') {
            bare = false;
            break;
        }
    }
    if (bare) return value;
    static const char* hex = "0123456789abcdef";
    bool plain = !value.empty();
    std::string out;
    out.reserve(value.size() + 2);
    for (size_t i = 0; i < value.size();) {
        const auto c = static_cast<unsigned char>(value[i]);
        const size_t n =
            c < 0x80 ? 1 : Utf8SequenceAt(value.data() + i, value.data() + value.size());
        if (n == 0 || c < 0x20 || c == 0x7F) {
            plain = false;
            if (c == '\n') {
                out += "\\n";
            } else if (c == '\t') {
                out += "\\t";
            } else {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            }
            ++i;
            continue;
        }
        if (c == ' ' || c == '=' || c == '"' || c == '\\') plain = false;
        if (c == '"' || c == '\\') out += '\\';
        out.append(value, i, n);
        i += n;
    }
    return plain ? out : "\"" + out + "\"";
}

std::string AccessLog::CallLine(const CallRecord& r) {
    char duration[32];
    const std::to_chars_result d = std::to_chars(duration, duration + sizeof duration,
                                                 r.seconds * 1000, std::chars_format::fixed, 3);
    std::string line;
    line.reserve(256);
    line.append("ts=").append(Timestamp());
    line.append(" event=call id=").append(Value(r.requestId));
    line.append(" module=").append(Value(r.module));
    line.append(" method=").append(r.method.empty() ? "-" : Value(r.method));
    line.append(" operator=").append(r.operatorName ? Value(*r.operatorName) : "-");
    line.append(" supplier=").append(r.supplier.empty() ? "-" : Value(r.supplier));
    line.append(" duration_ms=").append(duration, d.ptr);
    line.append(" outcome=").append(OutcomeName(r.outcome));
    if (r.applied) line += " applied=true";
    if (!r.address.empty()) line += " address=" + Value(r.address);
    if (r.code != 0) line += " code=" + std::to_string(r.code);
    if (!r.message.empty()) {
        std::string m = r.message;
        if (m.size() > kMessageMax) {
            size_t cut = kMessageMax;
            while (cut > 0 && (static_cast<unsigned char>(m[cut]) & 0xC0) == 0x80)
                --cut; // never split a character
            m = m.substr(0, cut) + "...";
        }
        line += " message=" + Value(m);
    }
    return line;
}

std::string AccessLog::EventLine(const std::string& event, const std::string& message) {
    return "ts=" + Timestamp() + " event=" + Value(event) + " msg=" + Value(message);
}

AccessLog::AccessLog(int fd, size_t maxPendingBytes)
    : fd_(fd), maxPending_(maxPendingBytes), writer_([this] {
          // A stop signal is the main thread's to handle; delivered here while the process ends
          // (its handler already gone) it would kill the process instead of letting it finish.
          sigset_t stop;
          sigemptyset(&stop);
          sigaddset(&stop, SIGINT);
          sigaddset(&stop, SIGTERM);
          pthread_sigmask(SIG_BLOCK, &stop, nullptr);
          Run();
      }) {}

AccessLog::~AccessLog() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    writer_.join();
}

void AccessLog::Write(std::string line) {
    line += '\n';
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (pending_.size() + line.size() > maxPending_) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        // The writer is woken for the first line of a batch and for a large batch only: waking
        // it for every call would cost each call a thread switch.
        wake = pending_.empty() || pending_.size() + line.size() >= kBatchBytes;
        pending_ += line;
        ++queued_;
    }
    if (wake) wake_.notify_one();
}

void AccessLog::Flush() {
    std::unique_lock lock(mutex_);
    const uint64_t target = queued_;
    flushWanted_ = true;
    wake_.notify_one();
    written_.wait(lock, [&] { return done_ >= target || stop_; });
}

void AccessLog::Run() {
    std::string batch;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || !pending_.empty(); });
        // A batch gathers the lines of a short while before it is written.
        wake_.wait_for(lock, kBatchDelay,
                       [&] { return stop_ || flushWanted_ || pending_.size() >= kBatchBytes; });
        flushWanted_ = false;
        if (pending_.empty() && stop_) break;
        batch.swap(pending_);
        const uint64_t upTo = queued_;
        lock.unlock();
        for (size_t off = 0; off < batch.size();) {
            const ssize_t n = ::write(fd_, batch.data() + off, batch.size() - off);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break; // a closed log loses the lines, never the calls
            off += static_cast<size_t>(n);
        }
        batch.clear();
        lock.lock();
        done_ = upTo;
        written_.notify_all();
    }
}
