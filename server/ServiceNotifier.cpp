#include "ServiceNotifier.h"

#include <systemd/sd-daemon.h>

ServiceNotifier::ServiceNotifier(boost::asio::io_context& io) : timer_(io) {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        interval_ = std::chrono::microseconds(usec / 2);
}

void ServiceNotifier::Ready(const std::string& status) {
    sd_notify(0, ("READY=1\nSTATUS=" + status).c_str());
    if (interval_.count() > 0) Feed();
}

void ServiceNotifier::Stopping() {
    sd_notify(0, "STOPPING=1\nSTATUS=encerrando");
    interval_ = std::chrono::microseconds(0);
    timer_.cancel(); // a pending timer would keep the event loop from ending
}

void ServiceNotifier::Feed() {
    sd_notify(0, "WATCHDOG=1");
    timer_.expires_after(interval_);
    timer_.async_wait([this](const boost::system::error_code& ec) {
        if (!ec && interval_.count() > 0) Feed();
    });
}
