#include "ParamBulk.h"

#include "Database.h"
#include "IdempotencyStore.h"
#include "ParamSave.h"
#include "ParamStore.h"
#include "RpcError.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

using nlohmann::json;

namespace {

[[noreturn]] void BadParams(const std::string& message) {
    throw RpcError(kRpcInvalidParams, message);
}

std::string Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return std::string(s);
}

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "1.234.567" (groups of three after the first): thousands separators a spreadsheet writes.
bool ThousandsGrouped(std::string_view s) {
    const size_t first = s.find('.');
    if (first == 0 || first > 3 || !AllDigits(s.substr(0, first))) return false;
    for (size_t at = first; at < s.size(); at += 4)
        if (s[at] != '.' || at + 4 > s.size() || !AllDigits(s.substr(at + 1, 3))) return false;
    return true;
}

std::string NumberCell(const ParamField& f, double x) {
    char buf[64];
    const auto r =
        std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, f.limit.decimals);
    std::string text(buf, r.ptr);
    if (const size_t dot = text.find('.'); dot != std::string::npos) text[dot] = ',';
    return text;
}

// "dd/mm/aaaa" (day and month may have one digit, as spreadsheets write them) or "aaaa-mm-dd".
std::optional<std::string> CellDate(const std::string& text) {
    int d = 0, m = 0, y = 0;
    const size_t s1 = text.find('/'), s2 = text.find('/', s1 == std::string::npos ? 0 : s1 + 1);
    if (s1 != std::string::npos && s2 != std::string::npos) {
        const std::string_view dd(text.data(), s1), mm(text.data() + s1 + 1, s2 - s1 - 1),
            yy(text.data() + s2 + 1, text.size() - s2 - 1);
        if (dd.size() < 1 || dd.size() > 2 || mm.size() < 1 || mm.size() > 2 || yy.size() != 4 ||
            !AllDigits(dd) || !AllDigits(mm) || !AllDigits(yy))
            return std::nullopt;
        std::from_chars(dd.data(), dd.data() + dd.size(), d);
        std::from_chars(mm.data(), mm.data() + mm.size(), m);
        std::from_chars(yy.data(), yy.data() + yy.size(), y);
        char iso[16];
        std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", y, m, d);
        if (!ParseIsoDateTime(iso)) return std::nullopt;
        return std::string(iso);
    }
    if (text.size() == 10 && ParseIsoDateTime(text)) return text;
    return std::nullopt;
}

} // namespace

const std::vector<BulkColumn>& BulkColumns() {
    static const std::vector<BulkColumn> columns = [] {
        // The captions of the screen's controls, as the history list names the fields.
        const std::pair<const char*, const char*> captions[] = {
            {"NRDIASBLOQNFFOR",
             "Nº de dias para bloqueio do número de NF repetido para fornecedor e série"},
            {"IDBLQNFRELAFOAF", "Bloqueia fechamento de NF caso utilize relacionamento de "
                                "fornecedor na Importação da AF"},
            {"IDOBRIMPXMLNF", "Obriga Importação de XML (NFe-) no Lançamento de Nota Fiscal"},
            {"IDOBRCHAVACESFO", "Obriga informar Chave de Acesso no Lançamento de Nota Fiscal"},
            {"IDVERINSFORCHNFE", "Verifica CPF/CNPJ do fornecedor na chave de acesso NF-e"},
            {"IDSIMPLESNACIONAL", "Fornecedor optante pelo Simples Nacional"},
            {"IMPVENCXML", "Importar vencimentos do XML da NF-e"},
            {"IDREACONSIMPXML", "Realiza Consistências na Importação de XML (geração de painel)"},
            {"IDBLOQALTPRODREL", "Bloqueia Alteração de Produto Relacionado(Importação XML)"},
            {"IDPROCNOTADEBCRE", "Processa nota de crédito no SAP"},
            {"IDUTPRIGXML", "Utiliza o Código do Produto igual Arquivo XML(OL)"},
            {"VRMAXPERMFORN", "Valor Máximo Permitido"},
            {"CDGRPERMLANMAX", "Grupo com Permissão para Lançamento Acima do Limite Permitido"},
            {"IDREACONFVRNF", "Realiza conferência do valor da NF"},
            {"IDUTDESCITBCST", "Considera Desconto do Produto na Base de Cálculo do ST"},
            {"IDCFOPCTEXML", "Utiliza 1 Dígito CFOP CT-e de acordo com arquivo XML"},
            {"IDIMPVENCXMLCTE", "Importar vencimentos do XML do CT-e"},
            {"IDNGRAVARELAC", "Não grava relacionamento do produto (tela Relacionamento "
                              "Produtos AF X Produtos NF-e)"},
            {"DTREACONSIMPXML", "Data inicial para validações das consistências"},
            {"QTREPETEPRODNF", "Nº de vezes que um produto poderá se repetir no lançamento da NF"},
            {"CDPRODCONSREPE", "Produtos a serem considerados"},
        };
        std::vector<BulkColumn> out = {
            {"Código", kBulkCode}, {"Inscrição", kBulkInscription}, {"Razão Social", kBulkName}};
        for (int id = 0; id < kParamFieldCount; ++id) {
            if (!ParamFields()[id].column || id == kCdForneced) continue;
            const auto it = std::find_if(std::begin(captions), std::end(captions), [&](auto& c) {
                return std::string_view(c.first) == ParamFields()[id].name;
            });
            out.push_back({it == std::end(captions) ? ParamFields()[id].name : it->second, id});
        }
        out.push_back({"Versão", kBulkVersion});
        return out;
    }();
    return columns;
}

std::optional<BulkColumn> BulkColumnOf(std::string_view header) {
    const std::string h = Trim(header);
    for (const BulkColumn& c : BulkColumns())
        if (h == c.caption || (c.field >= 0 && h == ParamFields()[c.field].name)) return c;
    return std::nullopt;
}

std::string CellText(int field, const json& value) {
    if (value.is_null()) return "";
    if (value.is_string()) {
        const std::string& s = value.get_ref<const std::string&>();
        if (ParamFields()[field].kind == FieldKind::Date && ParseIsoDateTime(s) && s.size() == 10)
            return s.substr(8, 2) + "/" + s.substr(5, 2) + "/" + s.substr(0, 4);
        return s;
    }
    if (value.is_number()) return NumberCell(ParamFields()[field], value.get<double>());
    return value.dump();
}

CellValue ParseCell(int field, std::string_view cell) {
    const ParamField& f = ParamFields()[field];
    std::string text = Trim(cell);
    if (text.empty()) return {json(), ""};
    switch (f.kind) {
    case FieldKind::Text:
        if (f.flag && text.size() == 1)
            text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        if (f.flag && text != "S" && text != "N")
            return {json(), "valor \"" + text + "\" inválido; use S ou N."};
        return {json(text), ""};
    case FieldKind::Date:
        if (const auto iso = CellDate(text)) return {json(*iso), ""};
        return {json(), "data inválida (\"" + text + "\"); use dd/mm/aaaa."};
    case FieldKind::Number: {
        std::string number = text;
        bool negative = false;
        if (number.front() == '-') {
            negative = true;
            number.erase(0, 1);
        }
        const size_t comma = number.find(',');
        std::string whole = comma == std::string::npos ? number : number.substr(0, comma);
        const std::string fraction = comma == std::string::npos ? "" : number.substr(comma + 1);
        if (whole.find('.') != std::string::npos) {
            if (!ThousandsGrouped(whole))
                return {json(), "número inválido (\"" + text +
                                    "\"); use a vírgula como separador "
                                    "decimal, como em 1500,50."};
            whole.erase(std::remove(whole.begin(), whole.end(), '.'), whole.end());
        }
        if (!AllDigits(whole) || (comma != std::string::npos && !AllDigits(fraction)))
            return {json(), "número inválido (\"" + text + "\")."};
        const std::string plain = whole + (fraction.empty() ? "" : "." + fraction);
        double x = 0;
        const auto r = std::from_chars(plain.data(), plain.data() + plain.size(), x);
        if (r.ec != std::errc() || !std::isfinite(x))
            return {json(), "número inválido (\"" + text + "\")."};
        return {PacketNumber(negative ? -x : x), ""};
    }
    }
    return {json(), ""};
}

std::string MaskedInscription(const std::string& type, const std::string& bare) {
    // A mask only where the inscription has its shape: another program may have stored anything.
    if ((type == "F" || type.empty() || type == "J") && bare.size() == 11 && AllDigits(bare))
        return bare.substr(0, 3) + "." + bare.substr(3, 3) + "." + bare.substr(6, 3) + "-" +
               bare.substr(9, 2);
    if (bare.size() == 14 && AllDigits(bare.substr(12)))
        return bare.substr(0, 2) + "." + bare.substr(2, 3) + "." + bare.substr(5, 3) + "/" +
               bare.substr(8, 4) + "-" + bare.substr(12, 2);
    return bare;
}

std::string RowVersion(const ParamRow& row) {
    json values = json::array();
    for (int id = 0; id < kParamFieldCount; ++id)
        if (ParamFields()[id].column) values.push_back(Normalized(id, row[id]));
    return IdempotencyDigest("versao", values, std::nullopt).substr(0, 16);
}

namespace {

// Letters and digits, letters upper-cased: an inscription as stored, whatever mask it was typed in.
std::string BareInscription(std::string_view s) {
    std::string out;
    for (char c : s)
        if (std::isalnum(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> Texts(const json& filter, const char* name) {
    std::vector<std::string> out;
    const auto it = filter.find(name);
    if (it == filter.end()) return out;
    if (!it->is_array())
        BadParams(std::string("Filtro \"") + name + "\" deve ser uma lista de textos.");
    for (const json& v : *it) {
        if (!v.is_string())
            BadParams(std::string("Filtro \"") + name + "\" deve ser uma lista de textos.");
        RefuseControlCharacter(std::string("Filtro ") + name, v);
        out.push_back(Trim(v.get<std::string>()));
    }
    return out;
}

} // namespace

ExportFilter ReadExportFilter(const json& filter) {
    ExportFilter out;
    if (filter.is_null()) return out;
    if (!filter.is_object())
        BadParams("O filtro da exportação deve ser um objeto (\"codes\", \"inscriptions\", "
                  "\"cells\").");
    for (const auto& [name, value] : filter.items())
        if (name != "codes" && name != "inscriptions" && name != "cells")
            BadParams("Filtro desconhecido: " + name + ".");
    out.codes = Texts(filter, "codes");
    for (const std::string& i : Texts(filter, "inscriptions"))
        out.inscriptions.push_back(BareInscription(i));
    if (const auto it = filter.find("cells"); it != filter.end()) {
        if (!it->is_object())
            BadParams("Filtro \"cells\" deve ser um objeto: coluna -> valor como exportado.");
        for (const auto& [column, cell] : it->items()) {
            const auto c = BulkColumnOf(column);
            if (!c || c->field < 0) BadParams("Filtro por coluna desconhecida: " + column + ".");
            if (!cell.is_string()) BadParams("Filtro da coluna " + column + ": esperado um texto.");
            const CellValue v = ParseCell(c->field, cell.get<std::string>());
            if (!v.error.empty()) BadParams("Filtro da coluna " + column + ": " + v.error);
            out.cells.emplace_back(c->field, Normalized(c->field, v.value));
        }
    }
    return out;
}

ExportPage ExportParams(DbCall& db, const ExportFilter& filter, const std::string& after,
                        int count) {
    ExportPage page;
    const std::vector<SupplierParams> suppliers = LoadParamsPage(db, after, count);
    const auto listed = [](const std::vector<std::string>& list, const std::string& s) {
        return list.empty() || std::find(list.begin(), list.end(), s) != list.end();
    };
    for (const auto& [s, stored] : suppliers) {
        if (!listed(filter.codes, s.code) ||
            !listed(filter.inscriptions, BareInscription(s.inscription)))
            continue;
        const ParamRow& row = stored.row;
        if (!std::all_of(filter.cells.begin(), filter.cells.end(), [&](const auto& c) {
                return Normalized(c.first, row[c.first]) == c.second;
            }))
            continue;
        std::vector<std::string> cells;
        for (const BulkColumn& c : BulkColumns()) {
            switch (c.field) {
            case kBulkCode:
                cells.push_back(s.code);
                break;
            case kBulkInscription:
                cells.push_back(MaskedInscription(s.type, s.inscription));
                break;
            case kBulkName:
                cells.push_back(s.name);
                break;
            case kBulkVersion:
                cells.push_back(RowVersion(row));
                break;
            default:
                cells.push_back(CellText(c.field, row[c.field]));
                break;
            }
        }
        page.rows.push_back(std::move(cells));
    }
    if (static_cast<int>(suppliers.size()) == count) page.next = suppliers.back().supplier.code;
    return page;
}

std::vector<BulkColumn> ReadImportHeader(const json& header) {
    if (!header.is_array() || header.empty())
        BadParams("O cabeçalho do arquivo deve ser uma lista de textos.");
    std::vector<BulkColumn> out;
    std::set<int> seen;
    for (size_t i = 0; i < header.size(); ++i) {
        if (!header[i].is_string())
            BadParams("O cabeçalho do arquivo deve ser uma lista de textos.");
        const std::string caption = header[i];
        const auto c = BulkColumnOf(caption);
        if (!c)
            throw RpcError(kRpcRefused, "Cabeçalho, coluna " + std::to_string(i + 1) + ": \"" +
                                            Trim(caption) +
                                            "\" não é uma coluna dos parâmetros por fornecedor.");
        if (!seen.insert(c->field).second)
            throw RpcError(kRpcRefused, "Cabeçalho: a coluna \"" + std::string(c->caption) +
                                            "\" aparece mais de uma vez.");
        out.push_back(*c);
    }
    for (int needed : {kBulkCode, kBulkVersion})
        if (!seen.count(needed))
            throw RpcError(kRpcRefused, std::string("Cabeçalho: falta a coluna \"") +
                                            (needed == kBulkCode ? "Código" : "Versão") +
                                            "\", que a exportação escreve e a importação exige.");
    return out;
}

namespace {

const char* CaptionOf(int field) {
    for (const BulkColumn& c : BulkColumns())
        if (c.field == field) return c.caption;
    return ParamFields()[field].name;
}

// The field a refusal of the record's rules names ("Campo NAME: ..."), or -1.
int FieldOfRefusal(const std::string& message) {
    const std::string prefix = "Campo ";
    if (message.rfind(prefix, 0) != 0) return -1;
    const size_t end = message.find(':', prefix.size());
    if (end == std::string::npos) return -1;
    return ParamFieldIndex(std::string_view(message).substr(prefix.size(), end - prefix.size()));
}

// The record's message without "Campo NAME: ", which the column's caption replaces.
std::string WithoutField(const std::string& message) {
    if (FieldOfRefusal(message) < 0) return message;
    std::string rest = message.substr(message.find(':') + 1);
    return Trim(rest);
}

std::vector<std::string> Products(const json& list) {
    std::vector<std::string> out;
    if (!list.is_string()) return out;
    const std::string& s = list.get_ref<const std::string&>();
    size_t start = 0;
    while (start <= s.size()) {
        const size_t end = std::min(s.find(';', start), s.size());
        if (std::string p = Trim(std::string_view(s).substr(start, end - start)); !p.empty())
            out.push_back(std::move(p));
        start = end + 1;
    }
    return out;
}

const char* const kExportConflict = "Fornecedor alterado depois da exportação (por outro usuário "
                                    "ou programa): exporte de novo e repita a alteração.";

} // namespace

ImportResult ImportParamRow(CallContext& ctx, const std::vector<BulkColumn>& header,
                            const ImportRow& row, bool apply, DbCall* session) {
    ImportResult out;
    out.line = row.line;
    const auto refuse = [&](int field, const std::string& message) {
        json column = field == kBulkCode      ? json("Código")
                      : field == kBulkVersion ? json("Versão")
                      : field >= 0            ? json(CaptionOf(field))
                                              : json();
        out.errors.push_back({column, message});
    };
    if (row.cells.size() != header.size()) {
        out.outcome = "refused";
        refuse(-99, "a linha tem " + std::to_string(row.cells.size()) + " colunas e o cabeçalho, " +
                        std::to_string(header.size()) + ".");
        return out;
    }

    // The cells, read as the record's values; a cell that cannot be read is refused here.
    std::string version;
    json cells = json::object();      // field name -> cell text, what identifies the row's request
    std::map<int, json> values;       // field -> value read
    std::map<int, std::string> texts; // field -> cell text
    for (size_t i = 0; i < header.size(); ++i) {
        const int field = header[i].field;
        const std::string text = Trim(row.cells[i]);
        if (field == kBulkCode) out.code = text;
        if (field == kBulkVersion) version = text;
        if (field < 0) continue;
        cells[ParamFields()[field].name] = text;
        texts[field] = text;
    }
    if (out.code.empty())
        refuse(kBulkCode, "código do fornecedor em branco.");
    else if (const size_t at = ControlCharacterPosition(out.code))
        refuse(kBulkCode,
               "o código contém um caractere de controle na posição " + std::to_string(at) + ".");
    if (version.size() != 16 || !std::all_of(version.begin(), version.end(),
                                             [](unsigned char c) { return std::isxdigit(c); }))
        refuse(kBulkVersion, "versão ausente ou alterada: use um arquivo exportado por este "
                             "sistema, sem mudar esta coluna.");
    if (!out.errors.empty()) {
        out.outcome = "refused";
        return out;
    }

    const std::string digest =
        IdempotencyDigest("ImportParamForn", {out.code, version, cells}, ctx.operatorName);
    const std::string key = "importacao-" + digest.substr(0, 48);

    // Checks the row against the stored one; true when there is a change to store.
    const auto check = [&](DbCall& db, ValidChange& change) -> bool {
        const std::optional<StoredParams> stored = LoadParams(db, out.code);
        if (!stored) {
            refuse(kBulkCode, "fornecedor " + out.code + " não cadastrado.");
            out.outcome = "refused";
            return false;
        }
        const ParamRow& current = stored->row;
        if (RowVersion(current) != version) {
            out.outcome = "conflict";
            refuse(kBulkVersion, kExportConflict);
            return false;
        }
        // A cell that reads as the export wrote it is no change, also one the record cannot
        // carry (kept as stored, as the screen keeps it).
        json changes = json::object();
        for (const auto& [field, text] : texts) {
            if (text == CellText(field, current[field])) continue;
            const CellValue v = ParseCell(field, text);
            if (!v.error.empty()) {
                refuse(field, v.error);
                continue;
            }
            values[field] = v.value;
            changes[ParamFields()[field].name] = v.value;
        }
        // Each change alone, so that every refused cell is named, then together for the rules
        // over the whole row.
        for (const auto& [field, value] : values) {
            try {
                ValidateChange(current, json{{ParamFields()[field].name, value}});
            } catch (const RpcError& e) {
                // A rule over two fields names the one to correct (the date an option needs).
                const int named = FieldOfRefusal(e.what());
                refuse(named >= 0 ? named : field, WithoutField(e.what()));
            }
        }
        if (out.errors.empty()) {
            try {
                change = ValidateChange(current, changes);
            } catch (const RpcError& e) {
                refuse(FieldOfRefusal(e.what()), WithoutField(e.what()));
            }
        }
        if (out.errors.empty() && change.group && !GroupExists(db, *change.group))
            refuse(kCdGrPerm, "grupo de operadores \"" + *change.group + "\" não cadastrado.");
        if (out.errors.empty() && values.count(kCdProdCons)) {
            const std::vector<std::string> before = Products(current[kCdProdCons]);
            for (const std::string& p : Products(values[kCdProdCons]))
                if (std::find(before.begin(), before.end(), p) == before.end() &&
                    !ProductExists(db, p))
                    refuse(kCdProdCons, "produto \"" + p + "\" não cadastrado.");
        }
        if (!out.errors.empty()) {
            out.outcome = "refused";
            return false;
        }
        for (const ColumnChange& c : change.columns)
            out.changes.push_back(
                {CaptionOf(c.field), CellText(c.field, c.oldValue), CellText(c.field, c.newValue)});
        out.outcome = change.columns.empty() ? "unchanged" : apply ? "applied" : "change";
        return !change.columns.empty();
    };

    const auto reset = [&] {
        out.errors = json::array();
        out.changes = json::array();
        values.clear();
    };
    if (!apply) {
        const auto dry = [&](DbCall& db) -> json {
            reset();
            if (IdempotencyKeyAnswered(db, key)) {
                out.outcome = "repeated";
                return nullptr;
            }
            ValidChange change;
            check(db, change);
            return nullptr;
        };
        if (session)
            dry(*session);
        else
            ctx.db.Run(dry);
        return out;
    }

    const SettleCommit settle = [&](DbCall& db, const std::string&) -> std::optional<json> {
        return CommittedAnswer(db, key, digest);
    };
    try {
        ctx.db.Run(
            [&](DbCall& db) -> json {
                reset();
                db.Begin();
                if (ClaimIdempotencyKey(db, key, digest, json::array({"S"}))) {
                    out.outcome = "repeated";
                    db.Rollback();
                    return nullptr;
                }
                ValidChange change;
                if (!check(db, change)) {
                    db.Rollback(); // the key goes with it: a corrected file runs again
                    return nullptr;
                }
                StoreParamChange(db, ctx, change);
                db.Commit();
                return nullptr;
            },
            settle);
    } catch (const RpcError& e) {
        if (e.Code() != kRpcConflict && e.Code() != kRpcRefused) throw;
        out.changes = json::array();
        out.errors = json::array();
        out.outcome = e.Code() == kRpcConflict ? "conflict" : "refused";
        refuse(e.Code() == kRpcConflict ? kBulkVersion : FieldOfRefusal(e.what()),
               e.Code() == kRpcConflict ? kExportConflict : WithoutField(e.what()));
    }
    return out;
}
