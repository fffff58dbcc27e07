#pragma once
// The run time's module list: each loaded module (the host library, a screen package, a separate
// resource module) registers the resources it carries, form definitions among them, by name.
#include <functional>
#include <optional>

#include "rtl/SysUtils.h"

using TResourceFinder = std::function<std::optional<String>(const String& name)>;

// Registers a module; the newest registration is searched first. Returns a handle for
// unregistering.
int RegisterModule(const String& moduleName, TResourceFinder finder);
void UnregisterModule(int handle);
std::vector<String> RegisteredModules();
// The resource of that name, searching the modules newest first; nothing when no module has it.
std::optional<String> FindResource(const String& name);
// The form definition of a class (resource named after the class in upper case), or EResNotFound.
String FormResource(const String& className);

class EResNotFound : public Exception {
public:
    using Exception::Exception;
};
