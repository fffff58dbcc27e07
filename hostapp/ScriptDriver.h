#pragma once
// The script driver: JSON Lines in, one JSON line out per command, flushed at once. Commands act
// as a user would (focus, type, click, pick from lists) through the host's input door; every
// dialog, busy animation and list shown while a command runs is reported with its answer.
#include <functional>
#include <iosfwd>

#include <nlohmann/json.hpp>

#include "hostapp/PackageHost.h"
#include "vcl/Dialogs.h"
#include "vcl/Forms.h"

class TScriptDriver {
public:
    struct Settings {
        std::function<void()> openScreen;         // the menu entry
        std::function<TCustomForm*()> screenForm; // the open screen, or null
        TPackageHost* package = nullptr;          // globals of the package, once loaded
        std::function<void(const String&)> setServer;
        std::function<void(const String&)> setToday;
    };
    TScriptDriver(Settings settings, TScriptedDialogs& dialogs);

    // Runs every line; returns 0 (a failed command is reported on its own line, not as an exit).
    int Run(std::istream& in, std::ostream& out);
    // One command line (already known not to be blank or a comment); the answer object.
    nlohmann::ordered_json Execute(const String& line);
    nlohmann::ordered_json Snapshot();

private:
    nlohmann::ordered_json Command(const nlohmann::json& cmd, nlohmann::ordered_json& out);
    // The list a command showed (pick, or a read-only list such as a history), into its answer.
    void AddList(nlohmann::ordered_json& out);
    TControl* Control(const nlohmann::json& cmd, bool mustBeUsable);
    Settings s_;
    TScriptedDialogs& dialogs_;
};

// A driver-level failure: the command is refused with this text and nothing runs.
class EScriptError : public Exception {
public:
    using Exception::Exception;
};
