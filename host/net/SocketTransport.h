// What the plain and the TLS transport share: one persistent HTTP/1.1 connection to host:port,
// opened within the connect deadline and anew when the server closed it, the buffer answers are
// read into (capped at the answer limit), and the failures an exchange ends with. What a
// transport does its own way (what it checks of the address, what it does once connected, how it
// carries a request) is its Link, net/SocketLink.h.
#pragma once

#include "net/NetTransport.h"

class TSocketTransport : public TNetTransport {
public:
    ~TSocketTransport() override;
    TSocketTransport(const TSocketTransport&) = delete;
    TSocketTransport& operator=(const TSocketTransport&) = delete;

    void Open(Clock::time_point deadline, int connectMs) final;
    bool Stale() final;
    TNetAnswer Exchange(const TNetRequest& request, Clock::time_point deadline) final;
    void ExchangeInto(const TNetRequest& request, Clock::time_point deadline,
                      TNetAnswer& answer) final;

protected:
    struct Link;
    explicit TSocketTransport(std::unique_ptr<Link> link);

private:
    std::unique_ptr<Link> link_;
};
