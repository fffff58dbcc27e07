// hostapp: the host client. It owns the shared database module, loads the screen's package on
// first use and opens it from its menu; with --script it drives the screen headless (or, with
// --screenshot, with the real windows) as the script says.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits.h>
#include <optional>

#include "db/DBGeral.h"
#include "hostapp/Host.h"
#include "hostapp/PackageHost.h"
#include "hostapp/ScriptDriver.h"
#include "net/Brannox.h"
#include "net/NetConnection.h"
#include "rtl/DateUtils.h"
#include "vcl/Forms.h"

namespace {

const char* kUsage =
    "uso: hostapp [--db URL] [--server HOST:PORT] [--today AAAA-MM-DD] [--operator NOME]\n"
    "             [--connect-timeout SEGUNDOS] [--call-timeout SEGUNDOS] [--ca ARQUIVO]\n"
    "             [--insecure]\n"
    "             [--script ARQUIVO|-] [--screenshot ARQUIVO.png]\n"
    "  --db          banco de dados (sqlite:CAMINHO ou postgresql://...); padrão KX_DB\n"
    "  --server      servidor de aplicação (HOST:PORTA, ou https://HOST:PORTA para HTTPS);\n"
    "                padrão KX_SERVER ou 127.0.0.1:4711\n"
    "  --ca          certificado (PEM) da autoridade que assina o do servidor, além das\n"
    "                autoridades do sistema; padrão KX_CA\n"
    "  --insecure    aceita HTTP sem criptografia com um servidor em outra máquina\n"
    "  --today       fixa a data da estação de trabalho\n"
    "  --operator    operador que entra no servidor e grava as alterações; padrão\n"
    "                KX_OPERATOR ou o usuário. A senha vem de KX_PASSWORD; sem ela a janela\n"
    "                pede operador e senha quando o servidor exige a entrada\n"
    "  --connect-timeout  espera máxima para conectar ao servidor de aplicação, em segundos\n"
    "                     (padrão KX_CONNECT_TIMEOUT ou 5)\n"
    "  --call-timeout     espera máxima por chamada ao servidor, novas tentativas incluídas,\n"
    "                     em segundos (padrão KX_CALL_TIMEOUT ou 30)\n"
    "  --script      executa comandos JSON (um por linha); '-' lê da entrada padrão\n"
    "  --screenshot  com --script: janelas reais e uma imagem PNG ao final\n";

String ExeDir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = 0;
    String p(buf);
    return p.substr(0, p.rfind('/'));
}

String Env(const char* name) {
    const char* v = getenv(name);
    return v ? String(v) : String();
}

// Seconds (a fraction allowed) as milliseconds; 0 for a text that is not 0.1 to 600 seconds.
int TimeoutMs(const String& text) {
    if (text.empty()) return 0;
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !(seconds >= 0.1 && seconds <= 600)) return 0;
    return static_cast<int>(std::lround(seconds * 1000));
}

// The settings, from the environment and then from the command line.
struct Options {
    String db = Env("KX_DB"), server = Env("KX_SERVER"), op = Env("KX_OPERATOR"), today, script,
           screenshot, connectTimeout = Env("KX_CONNECT_TIMEOUT"),
           callTimeout = Env("KX_CALL_TIMEOUT"), ca = Env("KX_CA");
    bool insecure = false;
};

// An option: the setting its value goes to, or (a switch, no value) the one it turns on.
struct OptionEntry {
    const char* name;
    String Options::*value;
    bool Options::*flag = nullptr;
};

const OptionEntry kOptions[] = {
    {"--db", &Options::db},
    {"--server", &Options::server},
    {"--today", &Options::today},
    {"--operator", &Options::op},
    {"--script", &Options::script},
    {"--screenshot", &Options::screenshot},
    {"--connect-timeout", &Options::connectTimeout},
    {"--call-timeout", &Options::callTimeout},
    {"--ca", &Options::ca},
    {"--insecure", nullptr, &Options::insecure},
};

// Reads the options into o; the exit code when the program ends here (help shown, an option
// unknown or its value missing).
std::optional<int> ReadCommandLine(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const String a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        const OptionEntry* option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                                 [&](const OptionEntry& s) { return a == s.name; });
        if (option == std::end(kOptions)) {
            std::cerr << "hostapp: opção desconhecida " << a << "\n" << kUsage;
            return 2;
        }
        if (!option->value) {
            o.*option->flag = true;
        } else if (i + 1 < argc) {
            o.*option->value = argv[++i];
        } else {
            std::cerr << "hostapp: falta o valor de " << option->name << "\n" << kUsage;
            return 2;
        }
    }
    return std::nullopt;
}

class THost : public IKxHost {
public:
    THost(String db, String op, String packagePath)
        : db_(std::move(db)), operator_(std::move(op)), package_(std::move(packagePath)) {}

    void OpenScreen() override { package_.IniProc(); }
    TCustomForm* ScreenForm() override {
        if (!package_.Loaded() || !package_.BoStCriado()) return nullptr;
        TCustomForm* f = package_.FrmParamForne();
        return f && !f->Released() ? f : nullptr;
    }
    String ServerAddress() const override {
        return String(Brannox::WebTls() ? "https://" : "") + Brannox::WebURL() + ":" +
               std::to_string(Brannox::WebPort());
    }
    String DatabaseUrl() const override { return db_; }
    String OperatorName() const override { return operator_; }
    bool LoginNeeded() override { return TNetConnection::LoginNeeded(); }
    String LogIn(const String& name, const String& password) override {
        operator_ = name;
        TNetConnection::SetOperator(name);
        TNetConnection::SetPassword(password);
        String message;
        const auto r = TNetConnection::LogIn(message);
        if (r == TNetConnection::TLoginResult::Ok || r == TNetConnection::TLoginResult::NotRequired)
            return "";
        TNetConnection::SetPassword("");
        return message;
    }

    int RunScript(std::istream& in, std::ostream& out) override {
        TScriptedDialogs* scripted = dynamic_cast<TScriptedDialogs*>(&DialogService());
        TScriptedDialogs own;
        if (!scripted) {
            SetDialogService(&own);
            scripted = &own;
        }
        TScriptDriver::Settings s;
        s.openScreen = [this] { OpenScreen(); };
        s.screenForm = [this] { return ScreenForm(); };
        s.package = &package_;
        s.setServer = [](const String& hp) { Brannox::SetServer(hp); };
        s.setToday = [](const String& d) { SetTodayOverride(DateOf(ISOToDateTime(d))); };
        TScriptDriver driver(s, *scripted);
        int rc = driver.Run(in, out);
        if (scripted == &own) SetDialogService(nullptr);
        return rc;
    }

    TPackageHost& Package() { return package_; }

private:
    String db_, operator_;
    TPackageHost package_;
};

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const std::optional<int> rc = ReadCommandLine(argc, argv, o)) return *rc;
    String exeDir = ExeDir();
    if (o.db.empty()) o.db = "sqlite:" + exeDir + "/../kx-demo.db";
    if (o.op.empty()) o.op = Env("USER").empty() ? String("operador") : Env("USER");
    for (const auto& [name, text] : {std::pair{"--connect-timeout", o.connectTimeout},
                                     std::pair{"--call-timeout", o.callTimeout}}) {
        if (!text.empty() && !TimeoutMs(text)) {
            std::cerr << "hostapp: valor inválido em " << name << ": \"" << text
                      << "\" (use de 0.1 a 600 segundos)\n";
            return 2;
        }
    }
    TNetConnection::SetTimeouts(TimeoutMs(o.connectTimeout), TimeoutMs(o.callTimeout));
    TNetConnection::SetTls(o.ca, o.insecure);
    if (!o.screenshot.empty() && o.script.empty()) {
        std::cerr << "hostapp: --screenshot exige --script\n";
        return 2;
    }

    try {
        if (!o.today.empty()) SetTodayOverride(DateOf(ISOToDateTime(o.today)));
        if (!o.server.empty()) Brannox::SetServer(o.server);
        TNetConnection::SetOperator(o.op);
        OpenDtmDBGeral(o.db);
    } catch (const std::exception& e) {
        std::cerr << "hostapp: " << e.what() << "\n";
        return 1;
    }
    // A password in the environment signs in before anything opens: a wrong one ends here. An
    // unreachable server is signed in to on its first call instead.
    if (const char* password = getenv("KX_PASSWORD")) {
        TNetConnection::SetPassword(password);
        String message;
        switch (TNetConnection::LogIn(message)) {
        case TNetConnection::TLoginResult::Refused:
            std::cerr << "hostapp: " << message << "\n";
            return 1;
        case TNetConnection::TLoginResult::Unreachable:
            std::cerr << "hostapp: aviso: " << message
                      << " A entrada do operador será tentada na primeira chamada.\n";
            break;
        default:
            break;
        }
    }

    TForm* frmPrincipal = nullptr;
    Application->CreateForm(frmPrincipal);
    frmPrincipal->SetName("frmPrincipal");
    frmPrincipal->SetCaption("KX - Compras e Documentos Fiscais");
    frmPrincipal->SetFormStyle(fsMDIForm);

    THost host(o.db, o.op, exeDir + "/../lib/libPKG_KXF27400.so");
    int rc = 0;
    if (!o.script.empty() && o.screenshot.empty()) {
        if (o.script == "-") {
            rc = host.RunScript(std::cin, std::cout);
        } else {
            std::ifstream in(o.script);
            if (!in) {
                std::cerr << "hostapp: não foi possível ler o roteiro " << o.script << "\n";
                return 1;
            }
            rc = host.RunScript(in, std::cout);
        }
    } else {
        String qtLib = exeDir + "/../lib/libhostqt.so";
        void* h = dlopen(qtLib.c_str(), RTLD_NOW | RTLD_GLOBAL);
        auto run = h ? reinterpret_cast<TKxRunQtHost>(dlsym(h, "KxRunQtHost")) : nullptr;
        if (!run) {
            const char* err = dlerror();
            std::cerr << "hostapp: a interface gráfica não está disponível (" << (err ? err : qtLib)
                      << ")\n";
            return 1;
        }
        rc = run(&host, argc, argv, o.script.empty() ? nullptr : o.script.c_str(),
                 o.screenshot.empty() ? nullptr : o.screenshot.c_str());
    }
    host.Package().Unload();
    CloseDtmDBGeral();
    return rc;
}
