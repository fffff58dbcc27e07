// TNetConnection: the client side of a remote data module on the application server.
// JSON-RPC 2.0 over one persistent HTTP/1.1 connection; calls block the calling thread, as the
// screen expects, with a timeout.
#pragma once

#include "rtl/SysUtils.h"
#include "rtl/Variant.h"
#include "vcl/Classes.h"

#include <functional>
#include <memory>
#include <vector>

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

    bool Connected() const;
    // true: BeforeConnect, connect, then GET /rpc/<ServerName> must answer 200. A failure
    // raises Exception, or with ThrowException false raises nothing and leaves Connected false.
    // false: closes the connection.
    void SetConnected(bool on);

    // One JSON-RPC call with positional arguments; the result as a Variant (JSON objects such as
    // packets come as Variant::Json). A JSON-RPC error raises Exception with the server's
    // message as it stands. A connection the server closed while idle is reopened once.
    Variant Call(const String& method, const std::vector<Variant>& args);

    // The operator sent as X-Operator on every call of every connection ("" sends none).
    static void SetOperator(String name);

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

    // Form definition: ServerName, Host, Port, ThrowException, BeforeConnect.
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
