#pragma once
// The connection to the host database (it owns the SOCI session) and the two components that
// older definitions name for the same connection: a database and a transaction.
//
// Form-definition properties: TADOConnection LoginPrompt, KeepConnection (accepted, no effect);
// TIBDatabase and TIBTransaction none besides Tag.
#include <functional>
#include <memory>
#include <vector>

#include "vcl/Classes.h"

namespace soci {
class session;
}

// A component that others refer to across owners (a query on a screen naming the shared data
// module's connection): it tells them when it goes away.
class TSharedComponent : public TComponent {
public:
    using TComponent::TComponent;
    ~TSharedComponent() override;
    void AddFreeNotification(const void* key, std::function<void()> onFree);
    void RemoveFreeNotification(const void* key);

protected:
    void NotifyFree();

private:
    std::vector<std::pair<const void*, std::function<void()>>> notify_;
};

class TADOConnection : public TSharedComponent {
public:
    explicit TADOConnection(TComponent* owner);
    ~TADOConnection() override;
    String ClassName() const override { return "TADOConnection"; }

    // "sqlite:PATH" or "postgresql://USER@HOST:PORT/DB"; EDatabaseError when it cannot connect.
    void Open(const String& url);
    // Closes the open queries first.
    void Close();
    bool Connected() const { return session_ != nullptr; }
    const String& Url() const { return url_; }
    // EDatabaseError when not connected.
    soci::session& Session();
    // Runs one statement without results; EDatabaseError with the engine's message.
    void ExecSQL(const String& sql);

    // Open queries register here, so closing the connection closes them first.
    void AddOpenQuery(const void* key, std::function<void()> close);
    void RemoveOpenQuery(const void* key);

    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

private:
    std::unique_ptr<soci::session> session_;
    String url_;
    std::vector<std::pair<const void*, std::function<void()>>> openQueries_;
};

// Names a connection: queries that name a database use its connection.
class TIBDatabase : public TSharedComponent {
public:
    using TSharedComponent::TSharedComponent;
    ~TIBDatabase() override;
    String ClassName() const override { return "TIBDatabase"; }
    TADOConnection* Connection() const { return connection_; }
    void SetConnection(TADOConnection* c);

private:
    TADOConnection* connection_ = nullptr;
};

// Names a connection; statements run in its implicit transaction.
class TIBTransaction : public TSharedComponent {
public:
    using TSharedComponent::TSharedComponent;
    ~TIBTransaction() override;
    String ClassName() const override { return "TIBTransaction"; }
    TADOConnection* Connection() const { return connection_; }
    void SetConnection(TADOConnection* c);

private:
    TADOConnection* connection_ = nullptr;
};

// Turns any error of the database library into EDatabaseError with the engine's message.
[[noreturn]] void RethrowAsDatabaseError(const String& context);
