// TNetConnection: the client side of a remote data module on the application server.
// JSON-RPC 2.0 over one persistent HTTP/1.1 connection (or the transport a factory gives for the
// address); calls block the calling thread, as the screen expects, for at most the call timeout.
// Every call carries an Idempotency-Key and is sent again with it when its answer did not arrive,
// so the server applies it at most once.
#pragma once

#include "net/NetTransport.h"
#include "rtl/SysUtils.h"
#include "rtl/Variant.h"
#include "vcl/Classes.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A call whose request may have reached the server but whose answer never arrived, though it
// was asked again until the call timeout: whether it was carried out is not known.
class ENetOutcomeUnknown : public Exception {
public:
    using Exception::Exception;
};

// The server refused the operator's name and password (or made them wait): asking again with the
// same ones cannot help.
class ENetLoginFailed : public Exception {
public:
    using Exception::Exception;
};

// Plain HTTP to a server on another machine, which the host refuses unless told otherwise.
class ENetInsecure : public Exception {
public:
    using Exception::Exception;
};

class TNetConnection : public TComponent {
public:
    explicit TNetConnection(TComponent* owner = nullptr);
    ~TNetConnection() override;
    String ClassName() const override { return "TNetConnection"; }
    TNetConnection(const TNetConnection&) = delete;
    TNetConnection& operator=(const TNetConnection&) = delete;

    String ServerName; // the module, e.g. "Kxf27400.rdmParamForne"
    String Host;       // empty: Brannox::WebURL()
    int Port = 0;      // 0: Brannox::WebPort()
    bool ThrowException = true;
    std::function<void(TNetConnection* sender)> BeforeConnect;
    // Milliseconds; 0 takes the host's setting (SetTimeouts).
    int ConnectTimeout = 0; // to open the connection
    int CallTimeout = 0;    // for a whole call, its retries included

    bool Connected() const;
    // true: BeforeConnect, connect, then GET /rpc/<ServerName> must answer 200. A failure
    // raises Exception, or with ThrowException false raises nothing and leaves Connected false.
    // false: closes the connection.
    void SetConnected(bool on);

    // One JSON-RPC call with positional arguments; the result as a Variant (JSON objects such as
    // packets come as Variant::Json). A JSON-RPC error raises Exception with the server's
    // message as it stands. A closed or broken connection is opened again (BeforeConnect runs
    // when the last call failed); a call whose answer did not arrive is sent again with the
    // same key after a short pause, a few times within the call timeout. Then it raises
    // ENetOutcomeUnknown if the request may have reached the server, else Exception.
    // HTTP 502, 503 and 504, and any 5xx whose body is not the server's JSON-RPC error, count as
    // an answer that did not arrive; any other status outside 2xx is a failure. An answer over
    // 64 MiB is refused as it is read.
    Variant Call(const String& method, const std::vector<Variant>& args);

    // The operator sent as X-Operator on every call of every connection ("" sends none).
    static void SetOperator(String name);
    // The operator's password. When a server answers 401 (no session, or it expired) the
    // connection signs in with it once and repeats the request; "" never signs in.
    static void SetPassword(String password);
    // HTTPS (an https:// server address): the authorities' certificates of `caFile` are trusted
    // besides the system's. `insecure` allows plain HTTP to a server on another machine.
    static void SetTls(String caFile, bool insecure);
    // The session every connection carries ("Authorization: Bearer"); "" for none.
    static String SessionToken();
    // Asked when a server wants a session that the kept password cannot open (none kept, or the
    // server refused it), with the reason to show: it lets the operator sign in again (LogIn) and
    // answers true once a session is open, and the call is repeated; false, or no prompt set
    // (scripts), and the call fails as the server answered. The time spent in it does not count
    // against the call's timeout. Not asked again while it runs.
    using TLoginPrompt = std::function<bool(const String& reason)>;
    static void SetLoginPrompt(TLoginPrompt prompt);

    enum class TLoginResult { Ok, NotRequired, Refused, Unreachable };
    // Signs in on the host's server now, with the operator and password set above. Refused:
    // the server's message (wrong name or password, too many attempts); Unreachable: why the
    // server could not be asked; NotRequired: the server takes calls without sessions.
    static TLoginResult LogIn(String& message);
    // Whether the host's server wants a session that is not open yet; false when unreachable.
    static bool LoginNeeded();
    // The host's timeouts, in milliseconds (defaults 5 s to connect, 30 s per call).
    static void SetTimeouts(int connectMs, int callMs);
    static int DefaultConnectTimeout();
    static int DefaultCallTimeout();
    // Where every connection's transport comes from, chosen at each connect for the address
    // then in use: the factory's transport, or TCP when it gives none (or none is set).
    static void SetTransportFactory(TNetTransportFactory factory);
    static constexpr size_t AnswerLimit = 64u << 20;

    // The server's dispatch interface while connected: methods are called on it by name.
    class TAppServer {
    public:
        explicit TAppServer(TNetConnection* c) : c_(c) {}
        Variant Call(const String& method, const std::vector<Variant>& args) const {
            return c_->Call(method, args);
        }

    private:
        TNetConnection* c_;
    };
    TAppServer AppServer() { return TAppServer(this); }

    // Form definition: ServerName, Host, Port, ThrowException, BeforeConnect, ConnectTimeout,
    // CallTimeout.
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

private:
    // The deadline moves on by the time the operator spends signing in again.
    void Connect(std::chrono::steady_clock::time_point& deadline);
    std::optional<bool> ProbeSession(std::chrono::steady_clock::time_point deadline);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};
