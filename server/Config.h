// The server's settings from outside the command line: a configuration file of "key = value"
// lines and KX_APPSERVER_* environment variables. The command line overrides the environment,
// which overrides the file.
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>

// A setting that cannot be read; the message names the file and line, or the variable.
struct ConfigError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ConfigValue {
    std::string value;
    std::string origin; // "FILE:LINE" or the variable's name
};

// Lines "key = value"; blank lines and lines starting with # are skipped; a value may be written
// between double quotes. A "#" in a value is an error unless the value is quoted (a comment after
// a value is never taken as part of it). keys are the known keys: any other is an error.
std::map<std::string, ConfigValue> ReadConfigFile(const std::string& path,
                                                  const std::set<std::string>& keys);

// The KX_APPSERVER_<KEY> variables among environ ("idle-timeout" is KX_APPSERVER_IDLE_TIMEOUT);
// an empty one counts as unset. A KX_APPSERVER_ variable that names no key is an error, except
// those in extraNames.
std::map<std::string, ConfigValue> ReadConfigEnvironment(char** environ,
                                                         const std::set<std::string>& keys,
                                                         const std::set<std::string>& extraNames);

std::string ConfigEnvName(const std::string& key);

// The database URL with its password hidden, for messages and logs.
std::string UrlForLog(const std::string& url);
