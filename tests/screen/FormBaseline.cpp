#include "FormBaseline.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "brx/BtnPesquisa.h"
#include "brx/DBDateEditPlus.h"
#include "brx/Messages.h"
#include "db/ADOIBQuery.h"
#include "db/DBClient.h"
#include "db/DBCtrls.h"
#include "vcl/Forms.h"
#include "vcl/Mask.h"
#include "vcl/StdCtrls.h"

namespace {

std::string Quoted(const String& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// A component as the form refers to it: its name, qualified by its owner's when that is not the
// form (the shared data module's connection), "nil" for none.
std::string Ref(const TCustomForm& form, const TComponent* c) {
    if (!c) return "nil";
    if (auto* q = dynamic_cast<const TQueryDataSet*>(c))
        return Ref(form, q->QueryComponent()) + ".Query";
    if (c == &form || !c->Owner() || c->Owner() == &form) return c->Name();
    return c->Owner()->Name() + "." + c->Name();
}

// A glyph by its length and a hash of its text: a changed picture changes the line.
std::string Glyph(const String& hex) {
    std::uint64_t h = 1469598103934665603ull; // FNV-1a
    for (unsigned char c : hex)
        h = (h ^ c) * 1099511628211ull;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%zu chars, fnv %016llx", hex.size(),
                  static_cast<unsigned long long>(h));
    return buf;
}

std::string Joined(const std::vector<String>& items) {
    std::string out;
    for (const String& s : items)
        out += (out.empty() ? "" : " ") + s;
    return out;
}

class Writer {
public:
    explicit Writer(const TCustomForm& form) : form_(form) {}
    std::string Text() const { return out_.str(); }

    void Put(const TComponent* c, const char* property, const std::string& value) {
        out_ << Ref(form_, c) << '.' << property << " = " << value << '\n';
    }
    void Put(const TComponent* c, const char* property, const char* value) {
        Put(c, property, std::string(value));
    }
    void Put(const TComponent* c, const char* property, int value) {
        Put(c, property, std::to_string(value));
    }
    void Put(const TComponent* c, const char* property, bool value) {
        Put(c, property, value ? "true" : "false");
    }
    void Lines(const TComponent* c, const char* property, const TStrings& lines) {
        Put(c, property, std::to_string(lines.Count()) + " lines");
        for (int i = 0; i < lines.Count(); ++i)
            out_ << "    " << Quoted(lines[i]) << '\n';
    }
    // The events with a handler, by name.
    void Events(const TComponent* c, std::vector<std::pair<const char*, bool>> events) {
        std::vector<String> set;
        for (const auto& [name, assigned] : events)
            if (assigned) set.push_back(name);
        if (!set.empty()) Put(c, "events", Joined(set));
    }
    void Separator() { out_ << '\n'; }

    const TCustomForm& form_;

private:
    std::ostringstream out_;
};

const char* AlignmentName(TAlignment a) {
    return a == taCenter ? "taCenter" : a == taRightJustify ? "taRightJustify" : "taLeftJustify";
}

void DescribeControl(Writer& w, const TControl* c) {
    w.Put(c, "class", c->ClassName());
    w.Put(c, "Parent", Ref(w.form_, c->Parent()));
    w.Put(c, "Bounds",
          std::to_string(c->Left()) + "," + std::to_string(c->Top()) + " " +
              std::to_string(c->Width()) + "x" + std::to_string(c->Height()));
    if (auto* wc = dynamic_cast<const TWinControl*>(c)) {
        w.Put(c, "TabOrder", wc->TabOrder());
        w.Put(c, "TabStop", wc->TabStop());
    }
    w.Put(c, "Caption", Quoted(c->Caption()));
    w.Put(c, "Enabled", c->Enabled());
    w.Put(c, "Visible", c->Visible());
    w.Put(c, "Color", ColorToString(c->Color()));
    const TFont& f = c->Font();
    w.Put(c, "Font",
          Quoted(f.Name) + " " + std::to_string(f.Height) + " " + ColorToString(f.Color) +
              (f.Bold ? " bold" : ""));
    if (!c->Hint().empty() || c->ShowHint())
        w.Put(c, "Hint",
              Quoted(c->Hint()) + (c->ShowHint() ? " shown" : "") +
                  (c->ParentShowHint() ? " (parent's)" : ""));
    if (auto* l = dynamic_cast<const TLabel*>(c)) {
        w.Put(c, "AutoSize", l->AutoSize());
        w.Put(c, "Alignment", AlignmentName(l->Alignment()));
        if (l->FocusControl) w.Put(c, "FocusControl", Ref(w.form_, l->FocusControl));
    }
    if (auto* p = dynamic_cast<const TPanel*>(c)) w.Put(c, "Align", p->Align);
    if (auto* e = dynamic_cast<const TCustomEdit*>(c)) {
        w.Put(c, "Text", Quoted(e->Text()));
        w.Put(c, "MaxLength", e->MaxLength());
        w.Put(c, "ReadOnly", e->ReadOnly());
    }
    if (auto* m = dynamic_cast<const TCustomMaskEdit*>(c))
        w.Put(c, "EditMask", Quoted(m->EditMask()));
    if (auto* d = dynamic_cast<const TDBEdit*>(c)) {
        w.Put(c, "DataSource", Ref(w.form_, d->DataSource()));
        w.Put(c, "DataField", d->DataField());
    }
    if (auto* d = dynamic_cast<const TDBDateEditPlus*>(c)) {
        w.Put(c, "SaveTime", d->SaveTime);
        w.Put(c, "ValidDateColor", ColorToString(d->ValidDateColor));
        w.Put(c, "NomeSemana", Joined(d->NomeSemana.Lines()));
        w.Put(c, "Glyph", Glyph(d->GlyphData) + ", " + std::to_string(d->NumGlyphs) + " glyphs");
    }
    if (auto* b = dynamic_cast<const TCustomCheckBox*>(c)) w.Put(c, "Checked", b->Checked());
    if (auto* d = dynamic_cast<const TDBCheckBox*>(c)) {
        w.Put(c, "DataSource", Ref(w.form_, d->DataSource()));
        w.Put(c, "DataField", d->DataField());
        w.Put(c, "Values", Quoted(d->ValueChecked()) + " " + Quoted(d->ValueUnchecked()));
    }
    if (auto* r = dynamic_cast<const TRadioButton*>(c)) w.Put(c, "Checked", r->Checked());
    if (auto* s = dynamic_cast<const TSpeedButton*>(c)) {
        w.Put(c, "Flat", s->Flat);
        w.Put(c, "Glyph", Glyph(s->GlyphData) + ", " + std::to_string(s->NumGlyphs) + " glyphs");
        if (!s->ShortCut.empty()) w.Put(c, "ShortCut", s->ShortCut);
    }
    if (auto* b = dynamic_cast<const TBtnPesquisa*>(c)) {
        w.Put(c, "Associate", Ref(w.form_, b->Associate));
        w.Put(c, "Title", Quoted(b->Title));
        w.Put(c, "DataSource", Ref(w.form_, b->DataSource));
        w.Put(c, "EmptyError", Quoted(b->EmptyError));
    }
    auto* wc = dynamic_cast<const TWinControl*>(c);
    auto* e = dynamic_cast<const TCustomEdit*>(c);
    auto* b = dynamic_cast<const TBtnPesquisa*>(c);
    w.Events(c, {{"OnClick", static_cast<bool>(c->OnClick)},
                 {"OnEnter", wc && wc->OnEnter},
                 {"OnExit", wc && wc->OnExit},
                 {"OnKeyPress", wc && wc->OnKeyPress},
                 {"OnKeyDown", wc && wc->OnKeyDown},
                 {"OnChange", e && e->OnChange},
                 {"OnBeforePesq", b && b->OnBeforePesq},
                 {"OnAfterPesq", b && b->OnAfterPesq}});
    w.Separator();
    if (wc)
        for (int i = 0; i < wc->ControlCount(); ++i)
            DescribeControl(w, wc->Controls(i));
}

void DescribeField(Writer& w, const TField* f) {
    std::string line = f->ClassName() + " size " + std::to_string(f->Size()) + " label " +
                       Quoted(f->DisplayLabel()) + " width " + std::to_string(f->DisplayWidth());
    if (!f->Origin().empty()) line += " origin " + f->Origin();
    if (auto* ff = dynamic_cast<const TFloatField*>(f))
        if (!ff->DisplayFormat().empty()) line += " format " + Quoted(ff->DisplayFormat());
    if (auto* df = dynamic_cast<const TDateTimeField*>(f))
        if (!df->DisplayFormat().empty()) line += " format " + Quoted(df->DisplayFormat());
    if (!f->Visible()) line += " hidden";
    if (f->Required()) line += " required";
    if (f->ReadOnly()) line += " read-only";
    if (f->OnGetText) line += " OnGetText";
    if (f->OnSetText) line += " OnSetText";
    w.Put(f->DataSet(), ("field " + f->FieldName()).c_str(), line);
}

void DescribeComponent(Writer& w, const TComponent* c) {
    if (auto* cds = dynamic_cast<const TClientDataSet*>(c)) {
        w.Put(c, "class", c->ClassName());
        w.Put(c, "State", DataSetStateName(cds->State()));
        for (const TField* f : cds->Fields())
            DescribeField(w, f);
    } else if (auto* ds = dynamic_cast<const TDataSource*>(c)) {
        w.Put(c, "class", c->ClassName());
        w.Put(c, "DataSet", Ref(w.form_, ds->DataSet()));
        w.Put(c, "State", DataSetStateName(ds->State()));
        w.Put(c, "AutoEdit", ds->AutoEdit());
    } else if (auto* q = dynamic_cast<const TADOIBQuery*>(c)) {
        w.Put(c, "class", c->ClassName());
        w.Lines(c, "SQL", q->SQL());
        std::vector<String> params;
        for (const TParam* p : const_cast<TADOIBQuery*>(q)->Params())
            params.push_back(p->Name() + ":" + p->DataType + ":" + p->ParamType);
        w.Put(c, "Params", Joined(params));
        w.Put(c, "DataSource", Ref(w.form_, q->DataSource()));
        w.Put(c, "Active", q->Active());
        w.Put(c, "Connection",
              Ref(w.form_, q->ADOConnection()) + " " + Ref(w.form_, q->DataBase()) + " " +
                  Ref(w.form_, q->Transaction()));
        std::ostringstream o;
        o << "AutoCalcFields " << q->AutoCalcFields << " ParamCheck " << q->ParamCheck
          << " CachedUpdates " << q->CachedUpdates << " ObjectView " << q->ObjectView
          << " ADOEnableBCD " << q->ADOEnableBCD << " ADOFiltered " << q->ADOFiltered
          << " ADOPrepared " << q->ADOPrepared << " ADOCacheSize " << q->ADOCacheSize
          << " ADOMaxRecords " << q->ADOMaxRecords << " " << q->ADOCursorLocation << " "
          << q->ADOCursorType << " " << q->ADOLockType << " " << q->ADOMarshalOptions
          << " ADOExecuteOptions [" << Joined(q->ADOExecuteOptions) << "]";
        w.Put(c, "Options", o.str());
        for (const TField* f : q->Query()->Fields())
            DescribeField(w, f);
    } else if (auto* m = dynamic_cast<const TMessages*>(c)) {
        w.Put(c, "class", c->ClassName());
        w.Lines(c, "Messages", m->Messages());
    } else {
        return; // controls come with their parents; fields with their data sets
    }
    w.Separator();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

} // namespace

std::string DescribeForm(const TCustomForm& form) {
    Writer w(form);
    const TCustomForm* f = &form;
    w.Put(f, "class", f->ClassName());
    w.Put(f, "Owner", f->Owner() == Application ? "Application" : Ref(form, f->Owner()));
    w.Put(f, "Caption", Quoted(f->Caption()));
    w.Put(f, "Client", std::to_string(f->ClientWidth()) + "x" + std::to_string(f->ClientHeight()));
    w.Put(f, "Position", std::to_string(f->Left()) + "," + std::to_string(f->Top()));
    w.Put(f, "FormStyle",
          f->FormStyle() == fsMDIChild ? "fsMDIChild" : std::to_string(f->FormStyle()));
    w.Put(f, "BorderStyle",
          f->BorderStyle() == bsSingle ? "bsSingle" : std::to_string(f->BorderStyle()));
    w.Put(f, "WindowState",
          f->WindowState() == wsNormal ? "wsNormal" : std::to_string(f->WindowState()));
    w.Put(f, "Visible", f->Visible());
    w.Put(f, "KeyPreview", f->KeyPreview());
    w.Put(f, "ActiveControl", Ref(form, f->ActiveControl()));
    std::vector<String> tabs;
    for (const TWinControl* c : f->TabSequence())
        tabs.push_back(c->Name());
    w.Put(f, "TabSequence", Joined(tabs));
    w.Events(f, {{"OnCreate", static_cast<bool>(f->OnCreate)},
                 {"OnShow", static_cast<bool>(f->OnShow)},
                 {"OnDestroy", static_cast<bool>(f->OnDestroy)},
                 {"OnClose", static_cast<bool>(f->OnClose)},
                 {"OnCloseQuery", static_cast<bool>(f->OnCloseQuery)},
                 {"OnKeyPress", static_cast<bool>(f->OnKeyPress)}});
    w.Separator();
    for (int i = 0; i < f->ControlCount(); ++i)
        DescribeControl(w, f->Controls(i));
    for (int i = 0; i < f->ComponentCount(); ++i)
        DescribeComponent(w, f->Components(i));
    return w.Text();
}

std::string CompareWithBaseline(const std::string& path, const std::string& actual) {
    const char* update = std::getenv("KX_UPDATE_BASELINES");
    if (update && std::string(update) == "1") {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << actual;
        out.close();
        return out ? "" : "cannot write " + path;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return "no baseline " + path + " (KX_UPDATE_BASELINES=1 writes it)";
    std::ostringstream stored;
    stored << in.rdbuf();
    const std::vector<std::string> want = SplitLines(stored.str()), got = SplitLines(actual);
    if (want == got) return "";
    // One hunk from the first line that differs to the last: "-" the baseline's, "+" the form's.
    size_t head = 0, tail = 0;
    while (head < want.size() && head < got.size() && want[head] == got[head])
        ++head;
    while (tail < want.size() - head && tail < got.size() - head &&
           want[want.size() - 1 - tail] == got[got.size() - 1 - tail])
        ++tail;
    std::ostringstream diff;
    diff << path << " differs from the form at line " << head + 1
         << " (KX_UPDATE_BASELINES=1 rewrites it when the change is meant):\n";
    auto hunk = [&diff](const std::vector<std::string>& lines, size_t from, size_t to, char sign) {
        for (size_t i = from; i < to && i < from + 40; ++i)
            diff << sign << ' ' << lines[i] << '\n';
        if (to > from + 40) diff << sign << " ... " << to - from - 40 << " more\n";
    };
    hunk(want, head, want.size() - tail, '-');
    hunk(got, head, got.size() - tail, '+');
    return diff.str();
}
