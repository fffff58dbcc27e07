// The connection behind a TSocketTransport, for the transports' own sources: the Boost.Asio
// state they share, what each one overrides, and the failures they raise alike.
#pragma once

#include "net/SocketTransport.h"
#include "net/TransportReason.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <optional>

struct TSocketTransport::Link {
    using Clock = TNetTransport::Clock;
    using tcp = boost::asio::ip::tcp;
    using Parser = boost::beast::http::response_parser<boost::beast::http::string_body>;

    Link(String h, int p, size_t limit) : host(std::move(h)), port(p), answerLimit(limit) {}
    virtual ~Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    String host;
    int port;
    size_t answerLimit;
    boost::asio::io_context io;
    // The TCP connection as it was opened (a transport that wraps it takes it over).
    std::optional<boost::beast::tcp_stream> stream;
    // Holds what is read beyond the headers; capped so no framing gets past the answer limit.
    boost::beast::flat_buffer buffer{answerLimit};

    String Where() const { return host + ":" + std::to_string(port); }

    // Runs the asynchronous operations started on io until they finish or the stream's
    // deadline cancels them.
    void Run() {
        io.restart();
        io.run();
    }

    // The deadline of one step of connecting: connectMs from now, within the call's deadline.
    static Clock::time_point StepDeadline(Clock::time_point deadline, int connectMs) {
        return std::min(deadline, Clock::now() + std::chrono::milliseconds(connectMs));
    }

    void Close();

    // What the transport checks of the addresses the host resolved to, before any connection.
    virtual void Resolved(const tcp::resolver::results_type& endpoints) { (void)endpoints; }
    // What it does once the TCP connection is up; a failure leaves the link closed.
    virtual void Connected(Clock::time_point deadline, int connectMs) = 0;
    // Whether a connection is open, the TCP stream under it, and forgetting it once closed.
    virtual bool IsOpen() const { return stream.has_value(); }
    virtual boost::beast::tcp_stream& Tcp() { return *stream; }
    virtual void Reset() { stream.reset(); }
    // One request and its answer on the open connection, written over `answer`.
    virtual void Exchange(const TNetRequest& request, Clock::time_point deadline,
                          TNetAnswer& answer) = 0;

    // The request could not be written (in part it may have been): closes and raises.
    [[noreturn]] void WriteFailed(const boost::beast::error_code& ec);
    // The answer could not be read: closes and raises (no retry for one over the limit).
    [[noreturn]] void ReadFailed(const boost::beast::error_code& ec);
    // A parser for an answer, its body read into the storage of `answer`'s.
    void Prepare(Parser& parser, TNetAnswer& answer);
    // The answer parsed; the connection is closed when the server said it would close it.
    void Answer(Parser& parser, TNetAnswer& answer);
};
