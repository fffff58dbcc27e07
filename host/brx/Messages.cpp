#include "brx/Messages.h"

#include "vcl/FormReader.h"

namespace {
bool SplitEntry(const String& line, String& key, String& text) {
    auto bar = line.find('|');
    if (bar == String::npos) return false;
    key = line.substr(0, bar);
    text = line.substr(bar + 1);
    return true;
}
} // namespace

bool TMessages::HasKey(const String& key) const {
    String k, t;
    for (const String& line : messages_.Lines())
        if (SplitEntry(line, k, t) && k == key) return true;
    return false;
}

String TMessages::Msg(const String& key) const {
    String k, t;
    for (const String& line : messages_.Lines())
        if (SplitEntry(line, k, t) && k == key) return t;
    throw Exception("Mensagem '" + key + "' não encontrada no catálogo " + Name() + ".");
}

int TMessages::ShowMsg(const String& key, TMsgDlgType type, const TMsgDlgButtons& buttons,
                       int helpContext) {
    return MessageDlg(Msg(key), type, buttons, helpContext);
}

bool TMessages::ReadProperty(const DfmProperty& p, TFormReader& r) {
    if (p.name == "Messages.Strings") {
        std::vector<String> lines = r.List(p);
        for (const String& line : lines) {
            String k, t;
            if (!SplitEntry(line, k, t) || k.empty())
                r.Fail(p, "entrada sem chave: '" + line + "' (use chave|texto)");
        }
        messages_.Assign(lines);
        return true;
    }
    return TComponent::ReadProperty(p, r);
}
