#include "Config.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

const std::string kEnvPrefix = "KX_APPSERVER_";

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

bool ValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t n = b < 0x80             ? 1
                   : (b & 0xE0) == 0xC0 ? 2
                   : (b & 0xF0) == 0xE0 ? 3
                   : (b & 0xF8) == 0xF0 ? 4
                                        : 0;
        if (n == 0 || i + n > s.size() || (n == 2 && b < 0xC2)) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

} // namespace

std::string ConfigEnvName(const std::string& key) {
    std::string name = kEnvPrefix;
    for (char c : key)
        name += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

std::map<std::string, ConfigValue> ReadConfigFile(const std::string& path,
                                                  const std::set<std::string>& keys) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ConfigError("não foi possível ler o arquivo de configuração " + path + ": " +
                          std::strerror(errno) + ".");
    std::map<std::string, ConfigValue> out;
    std::map<std::string, int> firstLine;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        if (!ValidUtf8(line)) throw ConfigError(where + "o texto não é UTF-8 válido.");
        const std::string text = Trim(line);
        if (text.empty() || text[0] == '#') continue;
        const auto eq = text.find('=');
        if (eq == std::string::npos)
            throw ConfigError(where + "linha sem \"=\" (use chave = valor): " + text);
        const std::string key = Trim(text.substr(0, eq));
        std::string value = Trim(text.substr(eq + 1));
        if (key.empty()) throw ConfigError(where + "linha sem a chave antes de \"=\".");
        if (!keys.count(key)) {
            std::string known;
            for (const std::string& k : keys)
                known += (known.empty() ? "" : ", ") + k;
            throw ConfigError(where + "chave desconhecida: " + key + " (chaves aceitas: " + known +
                              ").");
        }
        if (firstLine.count(key))
            throw ConfigError(where + "a chave " + key + " já foi definida na linha " +
                              std::to_string(firstLine[key]) + ".");
        // A "#" is never read past: it is part of a quoted value or an error, so a note after a
        // value can neither end up in it nor cut a password that holds a "#".
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        } else if (!value.empty() && value.front() == '"') {
            throw ConfigError(where + (value.find('"', 1) == std::string::npos
                                           ? "aspas sem par no valor de " + key + "."
                                           : "texto depois das aspas no valor de " + key +
                                                 " (comentários ficam em linha própria)."));
        } else if (!value.empty() && value.back() == '"') {
            throw ConfigError(where + "aspas sem par no valor de " + key + ".");
        } else if (value.find('#') != std::string::npos) {
            throw ConfigError(where + "\"#\" no valor de " + key +
                              ": comentários ficam em linha própria; se \"#\" faz parte do "
                              "valor, escreva o valor entre aspas.");
        }
        if (value.empty()) throw ConfigError(where + "a chave " + key + " está sem valor.");
        firstLine[key] = number;
        out[key] = {value, path + ":" + std::to_string(number)};
    }
    if (in.bad())
        throw ConfigError("falha ao ler o arquivo de configuração " + path + ": " +
                          std::strerror(errno) + ".");
    return out;
}

std::map<std::string, ConfigValue> ReadConfigEnvironment(char** environ,
                                                         const std::set<std::string>& keys,
                                                         const std::set<std::string>& extraNames) {
    std::map<std::string, std::string> byName;
    for (const std::string& k : keys)
        byName[ConfigEnvName(k)] = k;
    std::map<std::string, ConfigValue> out;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind(kEnvPrefix, 0) != 0) continue;
        const auto eq = entry.find('=');
        const std::string name = entry.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : entry.substr(eq + 1);
        if (extraNames.count(name)) continue;
        const auto key = byName.find(name);
        if (key == byName.end()) {
            std::string known;
            for (const auto& [n, k] : byName)
                known += (known.empty() ? "" : ", ") + n;
            throw ConfigError("variável de ambiente desconhecida: " + name +
                              " (variáveis aceitas: " + known + ").");
        }
        if (!ValidUtf8(value))
            throw ConfigError("a variável de ambiente " + name + " não é UTF-8 válido.");
        if (value.empty()) continue;
        out[key->second] = {value, name};
    }
    return out;
}

std::string UrlForLog(const std::string& url) {
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) return url; // sqlite:PATH carries no secret
    std::string out = url;
    const size_t authority = scheme + 3;
    const size_t end = std::min(out.find_first_of("/?", authority), out.size());
    const auto at = out.rfind('@', end);
    if (at != std::string::npos && at >= authority) {
        const auto colon = out.find(':', authority);
        if (colon != std::string::npos && colon < at) out.replace(colon + 1, at - colon - 1, "***");
    }
    // password=... in the query string.
    const auto query = out.find('?');
    for (size_t p = query; p != std::string::npos && p < out.size();) {
        const size_t start = p + 1;
        size_t next = out.find('&', start);
        const std::string param =
            out.substr(start, next == std::string::npos ? std::string::npos : next - start);
        if (param.rfind("password=", 0) == 0) {
            out.replace(start + 9, param.size() - 9, "***");
            next = out.find('&', start);
        }
        p = next;
    }
    return out;
}
