#include "Consiste.h"

#include <algorithm>

#include "db/DB.h"
#include "rtl/Utf8.h"
#include "vcl/Controls.h"
#include "vcl/Dialogs.h"

namespace Consiste {

bool EmptyString(const String& text) {
    return Trim(text).empty();
}

String Ajusta(const String& text, int width) {
    String t = Trim(text);
    if (t.empty()) return t;
    bool digits = true;
    for (char c : t)
        if (c < '0' || c > '9') digits = false;
    if (digits && static_cast<int>(t.size()) < width) t.insert(0, width - t.size(), '0');
    return t;
}

String Ajusta_Inscricao(String& text) {
    String out;
    for (char32_t c : ToU32(text)) {
        if (c >= U'0' && c <= U'9')
            out += static_cast<char>(c);
        else if (c >= U'a' && c <= U'z')
            out += static_cast<char>(c - U'a' + U'A');
        else if (c >= U'A' && c <= U'Z')
            out += static_cast<char>(c);
    }
    text = out;
    return text;
}

String PictPess(const String& s) {
    static const String cpf = "999.999.999-99;0;_";
    static const String cnpj = ">AA.AAA.AAA/AAAA-99;0;_";
    if (s == "F") return cpf;
    if (s == "J") return cnpj;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    auto alnum = [&](char c) {
        return digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    };
    if (s.size() == 11 && std::all_of(s.begin(), s.end(), digit)) return cpf;
    if (s.size() == 14 && std::all_of(s.begin(), s.end(), alnum) && digit(s[12]) && digit(s[13]))
        return cnpj;
    return "";
}

void MensErro(const String& text, bool abort) {
    MessageDlg(text, mtError, {mbOK}, 0);
    if (abort) Abort();
}

void MaxNumber(const String& text, int intDigits, int decDigits, const String& key, int selStart,
               int selLength) {
    std::u32string t = ToU32(text);
    std::u32string k = ToU32(key);
    if (k.empty() || k[0] == 0 || k[0] == 8) return; // nothing inserted: never more digits
    size_t from = std::min(static_cast<size_t>(std::max(selStart, 0)), t.size());
    size_t len = std::min(static_cast<size_t>(std::max(selLength, 0)), t.size() - from);
    t.replace(from, len, k);
    int before = 0, after = 0;
    bool comma = false;
    for (char32_t c : t) {
        if (c == U',')
            comma = true;
        else if (c >= U'0' && c <= U'9')
            (comma ? after : before)++;
    }
    if (before > intDigits || after > decDigits) Abort();
}

void SetChildEnabled(TWinControl* container, bool on) {
    for (int i = 0; i < container->ControlCount(); ++i) {
        TControl* c = container->Controls(i);
        if (!on) {
            if (c->Enabled()) {
                c->SetDisabledWithContainer(true);
                c->SetEnabled(false);
            }
        } else if (c->DisabledWithContainer()) {
            c->SetDisabledWithContainer(false);
            c->SetEnabled(true);
        }
    }
}

void Seta_Campo_Null(TDataSet* dataSet) {
    for (TField* f : dataSet->Fields()) {
        if (f->IsNull() || !EmptyString(f->AsString())) continue;
        const Variant old = f->OldValue();
        if (!VarIsNull(old) && old == f->AsVariant()) continue;
        f->Clear();
    }
}

Variant CheckResultServ(const Variant& answer, bool, int) {
    if (answer.IsString()) return answer;
    if (answer.IsArray() && answer.ArrayLength() > 0 && answer[0].IsString()) return answer;
    throw Exception("Resposta inválida do servidor de aplicação.");
}

} // namespace Consiste
