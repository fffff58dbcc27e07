#include "hostapp/ScriptDriver.h"

#include <iostream>
#include <limits>

#include "brx/BtnPesquisa.h"
#include "db/DBClient.h"
#include "net/NetConnection.h"
#include "rtl/Utf8.h"
#include "vcl/Input.h"
#include "vcl/Mask.h"

using ojson = nlohmann::ordered_json;

namespace {

const char* WindowStateName(TWindowState s) {
    switch (s) {
    case wsMinimized:
        return "minimized";
    case wsMaximized:
        return "maximized";
    default:
        return "normal";
    }
}

ojson FieldJson(TField* f) {
    if (f->IsNull()) return nullptr;
    switch (f->DataType()) {
    case ftFloat:
        return f->AsFloat();
    case ftDateTime: {
        TDateTime d = f->AsDateTime();
        return d.Val == DateOf(d).Val ? DateToISO(d) : DateTimeToISO(d);
    }
    default:
        return f->AsString();
    }
}

// What an edit shows: a masked edit with nothing filled in shows nothing.
String ShownText(TCustomEdit* e) {
    if (auto* m = dynamic_cast<TCustomMaskEdit*>(e); m && m->IsMasked()) {
        TEditMask mask(m->EditMask());
        if (mask.ValueFromEditText(m->EditText()).empty()) return "";
        return m->EditText();
    }
    return e->DisplayText();
}

ojson ControlJson(TControl* c) {
    ojson j;
    j["class"] = c->ClassName();
    j["parent"] = c->Parent() ? ojson(c->Parent()->Name()) : ojson(nullptr);
    j["enabled"] = c->Enabled();
    j["visible"] = c->Visible();
    j["color"] = ColorToString(c->Color());
    auto* edit = dynamic_cast<TCustomEdit*>(c);
    if (!edit) j["caption"] = c->Caption();
    if (edit) {
        j["text"] = ShownText(edit);
        if (auto* m = dynamic_cast<TCustomMaskEdit*>(c)) {
            j["editText"] = m->EditText();
            j["editMask"] = m->EditMask();
        }
        j["maxLength"] = edit->MaxLength();
    }
    if (auto* chk = dynamic_cast<TCustomCheckBox*>(c)) j["checked"] = chk->Checked();
    if (auto* rbt = dynamic_cast<TRadioButton*>(c)) j["checked"] = rbt->Checked();
    if (auto* w = dynamic_cast<TWinControl*>(c)) j["tabOrder"] = w->TabOrder();
    return j;
}

Char KeyOf(const String& k) {
    if (k == "Esc") return 27;
    if (k == "Enter") return 13;
    if (k == "Backspace") return 8;
    if (k == "Tab") return 9;
    if (k == "Space") return U' ';
    std::u32string u = ToU32(k);
    if (u.size() != 1) throw EScriptError("tecla desconhecida: " + k);
    return u[0];
}

// The keys that type no character, as the keyboard sends them.
struct KeyDownName {
    const char* name;
    Word key;
    TShiftState shift;
};
constexpr KeyDownName kKeyDowns[] = {
    {"Left", VK_LEFT, 0}, {"Right", VK_RIGHT, 0}, {"Up", VK_UP, 0}, {"Down", VK_DOWN, 0},
    {"Home", VK_HOME, 0}, {"End", VK_END, 0},     {"F4", VK_F4, 0}, {"Alt+Down", VK_DOWN, ssAlt},
};

String Str(const nlohmann::json& cmd, const char* key) {
    auto it = cmd.find(key);
    if (it == cmd.end() || !it->is_string())
        throw EScriptError(String("o comando precisa de \"") + key + "\" (texto)");
    return it->get<String>();
}

// A position or a count of characters.
int Int(const nlohmann::json& cmd, const char* key) {
    auto it = cmd.find(key);
    if (it == cmd.end() || !it->is_number_integer() || it->get<long long>() < 0 ||
        it->get<long long>() > std::numeric_limits<int>::max())
        throw EScriptError(String("o comando precisa de \"") + key +
                           "\" (número inteiro, 0 ou mais)");
    return static_cast<int>(it->get<long long>());
}

} // namespace

TScriptDriver::TScriptDriver(Settings settings, TScriptedDialogs& dialogs)
    : s_(std::move(settings)), dialogs_(dialogs) {}

int TScriptDriver::Run(std::istream& in, std::ostream& out) {
    String line;
    while (std::getline(in, line)) {
        String t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        out << Execute(t).dump() << std::endl;
    }
    return 0;
}

TControl* TScriptDriver::Control(const nlohmann::json& cmd, bool mustBeUsable) {
    String name = Str(cmd, "control");
    TCustomForm* f = s_.screenForm ? s_.screenForm() : nullptr;
    if (!f) throw EScriptError("a tela não está aberta");
    auto* c = dynamic_cast<TControl*>(f->FindComponent(name));
    if (!c) throw EScriptError("controle desconhecido: " + name);
    if (mustBeUsable && !c->Showing()) throw EScriptError("controle invisível: " + name);
    if (mustBeUsable && !c->EnabledChain()) throw EScriptError("controle desabilitado: " + name);
    return c;
}

ojson TScriptDriver::Execute(const String& line) {
    ojson out;
    out["ok"] = true;
    nlohmann::json cmd;
    try {
        cmd = nlohmann::json::parse(line);
        if (!cmd.is_object()) throw EScriptError("o comando deve ser um objeto JSON");
    } catch (const nlohmann::json::exception& e) {
        return ojson{{"ok", false}, {"error", String("JSON inválido: ") + e.what()}};
    } catch (const EScriptError& e) {
        return ojson{{"ok", false}, {"error", e.Message()}};
    }
    dialogs_.ClearLog();
    dialogs_.answers.clear();
    dialogs_.picks.clear();
    if (auto a = cmd.find("answers"); a != cmd.end()) {
        if (!a->is_array())
            return ojson{{"ok", false}, {"error", "\"answers\" deve ser uma lista"}};
        for (const auto& x : *a) {
            if (!x.is_string()) return ojson{{"ok", false}, {"error", "respostas são textos"}};
            dialogs_.answers.push_back(x.get<String>());
        }
    }
    try {
        Command(cmd, out);
    } catch (const EScriptError& e) {
        return ojson{{"ok", false}, {"error", e.Message()}};
    } catch (const std::exception& e) {
        return ojson{{"ok", false}, {"error", e.what()}};
    }
    if (!dialogs_.errors.empty()) {
        out["ok"] = false;
        out["error"] = dialogs_.errors.front();
    }
    ojson dialogs = ojson::array();
    for (const auto& d : dialogs_.dialogs) {
        ojson j{{"kind", d.kind}, {"text", d.text}};
        if (d.hasChoice) j["answer"] = d.answer;
        if (d.unanswered) j["unanswered"] = true;
        dialogs.push_back(j);
    }
    ojson busy = ojson::array();
    for (const auto& b : dialogs_.busy)
        busy.push_back({{"kind", b.kind}, {"text", b.text}});
    // The answer keys come first, then what the command added.
    ojson result{{"ok", out["ok"]}};
    if (out.contains("error")) result["error"] = out["error"];
    result["dialogs"] = dialogs;
    result["busy"] = busy;
    for (auto& [k, v] : out.items())
        if (k != "ok" && k != "error") result[k] = v;
    return result;
}

void TScriptDriver::AddList(ojson& out) {
    if (dialogs_.lists.empty()) return;
    const auto& l = dialogs_.lists.front();
    ojson list{{"title", l.title}, {"columns", l.columns}, {"rows", l.rows}, {"count", l.count}};
    if (l.multi) list["checked"] = l.checked;
    if (l.readOnly) list["readOnly"] = true;
    out["list"] = list;
}

ojson TScriptDriver::Command(const nlohmann::json& cmd, ojson& out) {
    String what = Str(cmd, "do");
    TCustomForm* form = s_.screenForm ? s_.screenForm() : nullptr;

    if (what == "open") {
        RunEvent([this] { s_.openScreen(); });
    } else if (what == "close") {
        if (!form) throw EScriptError("a tela não está aberta");
        UserInput::Close(form);
    } else if (what == "focus") {
        auto* w = dynamic_cast<TWinControl*>(Control(cmd, true));
        if (!w || !w->Focusable()) throw EScriptError("o controle não recebe o foco");
        UserInput::Focus(w);
    } else if (what == "tab") {
        if (!form) throw EScriptError("a tela não está aberta");
        bool back = cmd.value("back", false);
        UserInput::Tab(form, back);
    } else if (what == "type" || what == "clear" || what == "select" || what == "delete" ||
               what == "paste") {
        auto* e = dynamic_cast<TCustomEdit*>(Control(cmd, true));
        if (!e) throw EScriptError("o controle não é uma caixa de texto");
        if (what == "type")
            UserInput::TypeText(e, Str(cmd, "text"));
        else if (what == "clear")
            UserInput::ClearText(e);
        else if (what == "select")
            UserInput::Select(e, Int(cmd, "start"), Int(cmd, "length"));
        else if (what == "delete")
            UserInput::DeleteForward(e);
        else
            UserInput::Paste(e, Str(cmd, "text"));
    } else if (what == "key") {
        auto* w = dynamic_cast<TWinControl*>(Control(cmd, true));
        if (!w || !w->Focusable()) throw EScriptError("o controle não recebe teclas");
        const String name = Str(cmd, "key");
        for (const KeyDownName& k : kKeyDowns)
            if (name == k.name) {
                if (!w->Focused() && !UserInput::Focus(w)) return out;
                if (w->Focused()) UserInput::KeyDown(w, k.key, k.shift);
                AddList(out);
                return out;
            }
        // A shortcut of the form ("Ctrl+H", "Ctrl+S") runs its command or clicks its button, as
        // the host's menu and the window do.
        if (name.size() > 2 && name.find('+') != String::npos) {
            if (!form || !form->HasShortCut(name))
                throw EScriptError("atalho desconhecido: " + name);
            if (!w->Focused() && !UserInput::Focus(w)) return out;
            UserInput::ShortCut(form, name);
            AddList(out);
            return out;
        }
        Char key = KeyOf(name);
        if (!w->Focused() && !UserInput::Focus(w)) return out;
        if (w->Focused()) UserInput::Key(w, key);
    } else if (what == "click") {
        UserInput::Click(Control(cmd, true));
    } else if (what == "pick" || what == "picklist") {
        auto* b = dynamic_cast<TBtnPesquisa*>(Control(cmd, true));
        if (!b) throw EScriptError("o controle não é um botão de pesquisa");
        TScriptedDialogs::PickAnswer a;
        a.multi = what == "picklist";
        if (cmd.value("cancel", false))
            a.cancel = true;
        else if (a.multi) {
            auto k = cmd.find("keys");
            if (k == cmd.end() || !k->is_array()) throw EScriptError("\"keys\" deve ser uma lista");
            for (const auto& x : *k) {
                if (!x.is_string()) throw EScriptError("as chaves são textos");
                a.keys.push_back(x.get<String>());
            }
        } else {
            auto r = cmd.find("row");
            if (r == cmd.end() || !r->is_number_integer())
                throw EScriptError("\"row\" deve ser um número");
            a.row = r->get<int>();
        }
        dialogs_.picks.push_back(a);
        UserInput::Click(b);
        AddList(out);
    } else if (what == "config") {
        if (cmd.contains("server")) s_.setServer(Str(cmd, "server"));
        if (cmd.contains("today")) s_.setToday(Str(cmd, "today"));
        if (!cmd.contains("server") && !cmd.contains("today"))
            throw EScriptError("config precisa de \"server\" ou \"today\"");
    } else if (what == "state") {
        out["state"] = Snapshot();
    } else {
        throw EScriptError("comando desconhecido: " + what);
    }
    return out;
}

ojson TScriptDriver::Snapshot() {
    TCustomForm* form = s_.screenForm ? s_.screenForm() : nullptr;
    ojson screen;
    screen["open"] = form != nullptr;
    ojson controls = ojson::object();
    ojson record{{"state", "inactive"}, {"changeCount", 0}, {"fields", ojson::object()}};
    ojson connection{{"connected", false}, {"host", ""}, {"port", 0}};
    if (form) {
        screen["caption"] = form->Caption();
        screen["windowState"] = WindowStateName(form->WindowState());
        screen["focus"] =
            form->ActiveControl() ? ojson(form->ActiveControl()->Name()) : ojson(nullptr);
        for (int i = 0; i < form->ComponentCount(); ++i)
            if (auto* c = dynamic_cast<TControl*>(form->Components(i)))
                controls[c->Name()] = ControlJson(c);
        if (auto* cds = dynamic_cast<TClientDataSet*>(form->FindComponent("cdsParamForne"))) {
            record["state"] = DataSetStateName(cds->State());
            record["changeCount"] = cds->ChangeCount();
            ojson fields = ojson::object();
            if (cds->Active())
                for (TField* f : cds->Fields())
                    fields[f->FieldName()] = FieldJson(f);
            record["fields"] = fields;
        }
        if (auto* net = dynamic_cast<TNetConnection*>(form->FindComponent("netParamForne")))
            connection = {
                {"connected", net->Connected()}, {"host", net->Host}, {"port", net->Port}};
    }
    ojson globals{
        {"boStCriado", false}, {"dtDataAtual", DateToISO(TDateTime())}, {"stProdSerConsidera", ""}};
    if (s_.package && s_.package->Loaded()) {
        globals["boStCriado"] = s_.package->BoStCriado();
        globals["dtDataAtual"] = DateToISO(s_.package->DtDataAtual());
        globals["stProdSerConsidera"] = s_.package->StProdSerConsidera();
    }
    return ojson{{"screen", screen},   {"controls", controls},     {"record", record},
                 {"globals", globals}, {"connection", connection}, {"cursor", Screen->Cursor()}};
}
