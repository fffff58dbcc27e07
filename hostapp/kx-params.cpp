// kx-params: the supplier parameters in bulk from the command line, over the application server.
//   kx-params export [--to FILE] [filters]
//   kx-params import FILE [--dry-run]
// Exit code 0 when everything applied (or a dry run found nothing refused), 1 when some rows were
// refused or in conflict (or the file was), 2 on a usage or connection error.
#include "ParamsTransfer.h"

#include "net/Brannox.h"
#include "net/NetConnection.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "uso: kx-params export [--to ARQUIVO] [--code CÓDIGO]... [--inscription INSCRIÇÃO]...\n"
    "                      [--where COLUNA=VALOR]... [opções do servidor]\n"
    "     kx-params import ARQUIVO [--dry-run] [--all-or-nothing] [--encoding utf-8|windows-1252]\n"
    "                      [--separator ';'|','] [opções do servidor]\n"
    "opções do servidor: [--server HOST:PORTA] [--operator NOME] [--ca ARQUIVO] [--insecure]\n"
    "  --server      servidor de aplicação (HOST:PORTA, ou https://HOST:PORTA); padrão KX_SERVER\n"
    "                ou 127.0.0.1:4711\n"
    "  --operator    operador; padrão KX_OPERATOR. A senha vem de KX_PASSWORD.\n"
    "  --to          arquivo a gravar; sem ele, a saída padrão\n"
    "  --code, --inscription, --where  exportam só os fornecedores desses códigos, dessas\n"
    "                inscrições (com ou sem máscara) ou com esse valor na coluna (como exportado)\n"
    "  --dry-run     só confere: relata, linha a linha, o que mudaria e o que seria recusado\n"
    "  --all-or-nothing  confere o arquivo inteiro antes e só aplica se nada for recusado\n"
    "  --encoding, --separator  a codificação e o separador do arquivo; sem elas, descobertos\n"
    "Saída: 0 tudo aplicado (ou nada recusado na conferência), 1 linhas recusadas ou em\n"
    "conflito, 2 erro de uso ou de conexão.\n";

int Usage(const std::string& message) {
    std::cerr << "kx-params: " << message << "\n" << kUsage;
    return 2;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

struct Options {
    std::string command, file, to, server = Env("KX_SERVER"), op = Env("KX_OPERATOR"),
                                   ca = Env("KX_CA");
    bool dryRun = false, allOrNothing = false, insecure = false;
    ParamsTransfer::ExportFilter filter;
    ParamsCsv::ReadOptions read;
};

std::optional<int> ReadCommandLine(int argc, char** argv, Options& o) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        const bool takesValue = a == "--to" || a == "--code" || a == "--inscription" ||
                                a == "--where" || a == "--server" || a == "--operator" ||
                                a == "--ca" || a == "--encoding" || a == "--separator";
        if (takesValue) {
            const auto v = value();
            if (!v) return Usage("falta o valor de " + a);
            if (a == "--to") o.to = *v;
            if (a == "--code") o.filter.codes.push_back(*v);
            if (a == "--inscription") o.filter.inscriptions.push_back(*v);
            if (a == "--server") o.server = *v;
            if (a == "--operator") o.op = *v;
            if (a == "--ca") o.ca = *v;
            if (a == "--where") {
                const size_t eq = v->find('=');
                if (eq == std::string::npos || eq == 0)
                    return Usage("--where espera COLUNA=VALOR: " + *v);
                o.filter.cells.emplace_back(v->substr(0, eq), v->substr(eq + 1));
            }
            if (a == "--encoding") {
                if (*v == "utf-8" || *v == "UTF-8")
                    o.read.encoding = ParamsCsv::Encoding::Utf8;
                else if (*v == "windows-1252" || *v == "cp1252")
                    o.read.encoding = ParamsCsv::Encoding::Windows1252;
                else
                    return Usage("codificação desconhecida: " + *v);
            }
            if (a == "--separator") {
                if (*v != ";" && *v != ",") return Usage("separador deve ser ';' ou ','");
                o.read.separator = (*v)[0];
            }
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--all-or-nothing") {
            o.allOrNothing = true;
        } else if (a == "--insecure") {
            o.insecure = true;
        } else if (!a.empty() && a[0] == '-') {
            return Usage("opção desconhecida " + a);
        } else if (o.command.empty()) {
            o.command = a;
        } else if (o.command == "import" && o.file.empty()) {
            o.file = a;
        } else {
            return Usage("argumento a mais: " + a);
        }
    }
    if (o.command != "export" && o.command != "import")
        return Usage(o.command.empty() ? "falta o comando (export ou import)"
                                       : "comando desconhecido: " + o.command);
    if (o.command == "import" && o.file.empty()) return Usage("falta o arquivo a importar");
    if (o.command == "import" && access(o.file.c_str(), R_OK) != 0)
        return Usage("não foi possível ler " + o.file + ": " + std::strerror(errno));
    const bool exportOnly = !o.to.empty() || !o.filter.codes.empty() ||
                            !o.filter.inscriptions.empty() || !o.filter.cells.empty();
    const bool importOnly = o.dryRun || o.allOrNothing || o.read.encoding || o.read.separator;
    if (o.command == "import" && exportOnly) return Usage("opção de export em um import");
    if (o.command == "export" && importOnly) return Usage("opção de import em um export");
    return std::nullopt;
}

// A progress line on a terminal, redrawn in place; nothing when stderr is not one.
class ProgressLine {
public:
    explicit ProgressLine(const char* what) : what_(what), shown_(isatty(STDERR_FILENO)) {}
    ~ProgressLine() { Done(); }
    bool operator()(const ParamsTransfer::Progress& p) {
        if (!shown_) return true;
        std::string bar;
        if (p.totalBytes > 0) {
            const int filled =
                static_cast<int>(30 * std::min(p.bytes, p.totalBytes) / p.totalBytes);
            bar = "[" + std::string(filled, '#') + std::string(30 - filled, '.') + "] " +
                  std::to_string(100 * std::min(p.bytes, p.totalBytes) / p.totalBytes) + "% ";
        }
        std::fprintf(stderr, "\r%s: %s%lld linhas", what_, bar.c_str(), p.rows);
        std::fflush(stderr);
        drawn_ = true;
        return true;
    }
    void Done() {
        if (drawn_) std::fputs("\n", stderr);
        drawn_ = false;
    }

private:
    const char* what_;
    bool shown_;
    bool drawn_ = false;
};

int RunExport(TNetConnection& conn, const Options& o) {
    std::FILE* out = stdout;
    const std::string partial = o.to + ".parcial";
    if (!o.to.empty()) {
        out = std::fopen(partial.c_str(), "wb");
        if (!out) {
            std::cerr << "kx-params: não foi possível criar " << partial << "\n";
            return 2;
        }
    }
    ProgressLine progress("Exportando");
    try {
        const long long rows = ParamsTransfer::Export(conn, o.filter, out, std::ref(progress));
        progress.Done();
        if (out != stdout) {
            // The file appears whole or not at all.
            if (std::fclose(out) != 0 || std::rename(partial.c_str(), o.to.c_str()) != 0) {
                std::remove(partial.c_str());
                std::cerr << "kx-params: falha ao gravar " << o.to << "\n";
                return 2;
            }
        } else {
            std::fflush(stdout);
        }
        std::cerr << rows
                  << (rows == 1 ? " fornecedor exportado.\n" : " fornecedores exportados.\n");
        return 0;
    } catch (const Exception& e) {
        progress.Done();
        if (out != stdout) {
            std::fclose(out);
            std::remove(partial.c_str());
        }
        std::cerr << "kx-params: " << e.Message() << "\n";
        return 2;
    }
}

int RunImport(TNetConnection& conn, const Options& o) {
    const auto pass = [&](bool apply) {
        ProgressLine progress(apply ? "Importando" : "Conferindo");
        ParamsTransfer::ImportOptions options{o.read, apply};
        const bool quiet = o.allOrNothing && !apply; // the report is the apply's, or the refusals
        const auto summary = ParamsTransfer::Import(
            conn, o.file, options,
            [&](const ParamsTransfer::RowResult& r) {
                if (quiet && r.outcome != "refused" && r.outcome != "conflict") return;
                if (r.outcome == "unchanged") return;
                progress.Done();
                std::cout << ParamsTransfer::Describe(r) << "\n";
            },
            std::ref(progress));
        progress.Done();
        std::cout << ParamsTransfer::Describe(summary, apply) << std::endl;
        return summary;
    };
    try {
        if (o.allOrNothing && !o.dryRun) {
            if (!pass(false).Clean()) {
                std::cout << "Nada foi aplicado: o arquivo tem linhas recusadas ou em conflito."
                          << std::endl;
                return 1;
            }
        }
        return pass(!o.dryRun).Clean() ? 0 : 1;
    } catch (const ParamsTransfer::EFileRefused& e) {
        std::cerr << "kx-params: " << o.file << ": " << e.Message() << "\n";
        return 1;
    } catch (const Exception& e) {
        std::cerr << "kx-params: " << e.Message() << "\n";
        return 2;
    }
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const auto rc = ReadCommandLine(argc, argv, o)) return *rc;
    try {
        if (!o.server.empty()) Brannox::SetServer(o.server);
    } catch (const Exception& e) {
        return Usage(e.Message());
    }
    TNetConnection::SetTls(o.ca, o.insecure);
    TNetConnection::SetOperator(o.op);
    if (const char* password = std::getenv("KX_PASSWORD")) {
        TNetConnection::SetPassword(password);
        String message;
        const auto r = TNetConnection::LogIn(message);
        if (r == TNetConnection::TLoginResult::Refused ||
            r == TNetConnection::TLoginResult::Unreachable) {
            std::cerr << "kx-params: " << message << "\n";
            return 2;
        }
    }
    TNetConnection conn;
    conn.ServerName = "Kxf27400.rdmParamForne";
    try {
        conn.SetConnected(true);
    } catch (const Exception& e) {
        std::cerr << "kx-params: " << e.Message() << "\n";
        return 2;
    }
    return o.command == "export" ? RunExport(conn, o) : RunImport(conn, o);
}
