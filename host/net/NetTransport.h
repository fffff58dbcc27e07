// The way a TNetConnection's requests reach the application server: TCP (TTcpTransport), or
// whatever a factory set with TNetConnection::SetTransportFactory gives for an address (the tests
// reach a server running in their own process so). The connection keeps the protocol: the
// JSON-RPC envelope, the keys, the retries and the messages; a transport carries one request at a
// time and says how it failed. Header-only, so that an implementation needs no part of the host
// library to be linked.
#pragma once

#include "rtl/SysUtils.h"

#include <chrono>
#include <functional>
#include <memory>

struct TNetRequest {
    bool post = false; // else GET
    String target;     // "/rpc/<module>"
    String body;
    String operatorName;   // X-Operator; empty sends none
    String idempotencyKey; // Idempotency-Key; empty sends none
    String token;          // the session, as "Authorization: Bearer"; empty sends none
};

struct TNetAnswer {
    unsigned status = 0;
    String body;
};

// A transport failure; the message is complete, ready for the user.
struct TNetTransportError {
    String message;
    bool sent;         // the request may have reached the server
    bool retry = true; // another attempt may do better (not so for an answer over the limit)

    static TNetTransportError CannotConnect(const String& where, const String& reason, bool sent) {
        return {"Não foi possível conectar ao servidor de aplicação " + where + ": " + reason + ".",
                sent};
    }
    static TNetTransportError NoAnswerInTime(const String& where) {
        return {"O servidor de aplicação " + where + " não respondeu dentro do tempo limite.",
                true};
    }
};

class TNetTransport {
public:
    using Clock = std::chrono::steady_clock;
    virtual ~TNetTransport() = default;
    // Opens the way to the server, within the deadline and connectMs.
    virtual void Open(Clock::time_point deadline, int connectMs) = 0;
    // True when the way opened can no longer carry a request (the server closed it, or went away).
    virtual bool Stale() = 0;
    // One request and its answer, both within the deadline, on the way opened. Afterwards the way
    // may be closed (the server asked so, or it broke): Stale tells.
    virtual TNetAnswer Exchange(const TNetRequest& request, Clock::time_point deadline) = 0;
    // The same, the answer written over `answer`, whose body's storage the transport may use
    // again: a connection that keeps one answer for its calls spares an allocation per call.
    virtual void ExchangeInto(const TNetRequest& request, Clock::time_point deadline,
                              TNetAnswer& answer) {
        answer = Exchange(request, deadline);
    }
};

// The transport for host:port, or nullptr when TCP should carry it.
using TNetTransportFactory =
    std::function<std::unique_ptr<TNetTransport>(const String& host, int port)>;
