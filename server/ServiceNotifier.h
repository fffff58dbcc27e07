// Tells systemd (Type=notify) when the server is ready and when it stops, and keeps its watchdog
// fed from the network thread, so a hung event loop gets the service restarted. Outside systemd
// (no NOTIFY_SOCKET) it does nothing.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <string>

class ServiceNotifier {
public:
    explicit ServiceNotifier(boost::asio::io_context& io);
    void Ready(const std::string& status);
    void Stopping();

private:
    void Feed();

    boost::asio::steady_timer timer_;
    std::chrono::microseconds interval_{0};
};
