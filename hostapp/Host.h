#pragma once
// The host client as its window front end sees it: settings, the menu entry that opens the screen,
// and the script driver.
#include <iosfwd>

#include "rtl/SysUtils.h"

class TCustomForm;

class IKxHost {
public:
    virtual ~IKxHost() = default;
    // The menu entry: loads the package on first use and calls its IniProc, as one user event.
    virtual void OpenScreen() = 0;
    // The screen window while one is open.
    virtual TCustomForm* ScreenForm() = 0;
    virtual String ServerAddress() const = 0;
    virtual String DatabaseUrl() const = 0;
    virtual String OperatorName() const = 0;
    // Signing in before the window opens: whether the server wants the operator's password and
    // no session is open yet, and one attempt ("" when signed in, else the message to show).
    virtual bool LoginNeeded() { return false; }
    virtual String LogIn(const String& operatorName, const String& password) {
        (void)operatorName;
        (void)password;
        return "";
    }
    // Runs a script of JSON lines, one answer line per command; returns the process exit code.
    virtual int RunScript(std::istream& in, std::ostream& out) = 0;
};

// Entry of the Qt front end (libhostqt.so), loaded only when real windows are wanted. With a
// script it runs the script with the real windows and saves a PNG of the main window at the end.
extern "C" int KxRunQtHost(IKxHost* host, int argc, char** argv, const char* scriptFile,
                           const char* screenshotFile);
using TKxRunQtHost = int (*)(IKxHost*, int, char**, const char*, const char*);
