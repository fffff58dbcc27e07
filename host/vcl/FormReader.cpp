#include "vcl/FormReader.h"

#include <algorithm>
#include <map>

#include "rtl/ScopeGuard.h"

namespace {
std::map<String, TComponentFactory>& Registry() {
    static std::map<String, TComponentFactory> r;
    return r;
}
std::vector<TComponent*>& GlobalRoots() {
    static std::vector<TComponent*> r;
    return r;
}
const char* KindName(DfmValue::Kind k) {
    switch (k) {
    case DfmValue::Kind::Integer:
        return "número inteiro";
    case DfmValue::Kind::Float:
        return "número";
    case DfmValue::Kind::Text:
        return "texto";
    case DfmValue::Kind::Boolean:
        return "valor lógico";
    case DfmValue::Kind::Identifier:
        return "identificador";
    case DfmValue::Kind::Set:
        return "conjunto";
    case DfmValue::Kind::StringList:
        return "lista de textos";
    case DfmValue::Kind::Binary:
        return "dados binários";
    }
    return "valor";
}
} // namespace

void RegisterComponentClass(const String& className, TComponentFactory factory) {
    Registry()[className] = std::move(factory);
}

bool IsComponentClassRegistered(const String& className) {
    return Registry().count(className) != 0;
}

void RegisterGlobalRoot(TComponent* root) {
    auto& r = GlobalRoots();
    if (std::find(r.begin(), r.end(), root) == r.end()) r.push_back(root);
}

void UnregisterGlobalRoot(TComponent* root) {
    auto& r = GlobalRoots();
    r.erase(std::remove(r.begin(), r.end(), root), r.end());
}

TComponent* FindGlobalComponent(const String& dotted) {
    auto dot = dotted.find('.');
    String module = dotted.substr(0, dot);
    for (TComponent* root : GlobalRoots()) {
        if (root->Name() != module) continue;
        if (dot == String::npos) return root;
        return root->FindComponent(dotted.substr(dot + 1));
    }
    return nullptr;
}

TFormReader::TFormReader(TComponent* root) : root_(root) {}

TComponent* TFormReader::Resolve(const String& name) const {
    if (name.find('.') == String::npos) {
        if (name == root_->Name()) return root_;
        if (TComponent* c = root_->FindComponent(name)) return c;
    }
    return FindGlobalComponent(name);
}

void TFormReader::Read(const String& text) {
    std::unique_ptr<DfmObject> top = ParseDfm(text);
    fixups_.clear();
    touched_.clear();
    if (top->className != root_->ClassName() && top->kind == DfmObject::Kind::Object)
        throw EDfmError(top->line,
                        "a definição é de " + top->className + ", não de " + root_->ClassName());
    {
        // Every component touched leaves the loading state, also when the definition fails.
        TScopeExit endLoading([this] {
            for (TComponent* c : touched_)
                c->SetLoading(false);
        });
        Apply(*top, root_, nullptr);
        for (auto& f : fixups_)
            f();
        String unset = root_->UnsetPublishedField();
        if (!unset.empty())
            throw EDfmError(top->line, "componente " + unset + " de " + root_->ClassName() +
                                           " ausente da definição");
    }
    for (TComponent* c : touched_)
        c->Loaded();
}

void TFormReader::Apply(const DfmObject& obj, TComponent* target, TComponent* parent) {
    if (std::find(touched_.begin(), touched_.end(), target) == touched_.end()) {
        touched_.push_back(target);
        target->SetLoading(true);
    }
    if (target == root_ && !obj.name.empty()) target->SetName(obj.name);
    if (parent && target->Owner() == root_ && obj.kind == DfmObject::Kind::Object) {
        try {
            target->SetParentComponent(parent);
        } catch (const Exception& e) {
            throw EDfmError(obj.line, e.Message());
        }
    }
    SetProperties(obj, target);
    for (const auto& child : obj.children) {
        TComponent* c = nullptr;
        if (child->kind == DfmObject::Kind::Object) {
            if (child->name.empty()) throw EDfmError(child->line, "componente sem nome");
            if (root_->FindComponent(child->name))
                throw EDfmError(child->line, "componente '" + child->name + "' repetido");
            auto it = Registry().find(child->className);
            if (it == Registry().end())
                throw EDfmError(child->line, "classe desconhecida " + child->className);
            c = it->second(root_);
            if (c->Owner() != root_) root_->InsertComponent(c);
            c->SetName(child->name);
        } else {
            c = root_->FindComponent(child->name);
            if (!c)
                throw EDfmError(child->line, "componente herdado '" + child->name + "' não existe");
            if (c->ClassName() != child->className)
                throw EDfmError(child->line, "o componente herdado '" + child->name + "' é " +
                                                 c->ClassName() + ", não " + child->className);
        }
        if (!root_->SetPublishedField(c))
            throw EDfmError(child->line, "o campo publicado " + child->name + " de " +
                                             root_->ClassName() + " não aceita " + c->ClassName());
        Apply(*child, c, target);
    }
}

void TFormReader::SetProperties(const DfmObject& obj, TComponent* target) {
    for (const DfmProperty& p : obj.properties) {
        bool known = false;
        try {
            known = target->ReadProperty(p, *this);
        } catch (const EDfmError&) {
            throw;
        } catch (const Exception& e) {
            throw EDfmError(p.line, p.name + ": " + e.Message());
        }
        if (!known)
            throw EDfmError(p.line, "propriedade desconhecida " + p.name + " em " +
                                        (obj.name.empty() ? obj.className : obj.name) + ": " +
                                        target->ClassName());
    }
}

void TFormReader::Fail(const DfmProperty& p, const String& reason) {
    throw EDfmError(p.line, p.name + ": " + reason);
}

namespace {
void Expect(TFormReader& r, const DfmProperty& p, DfmValue::Kind k) {
    if (p.value.kind != k)
        r.Fail(p, String(KindName(k)) + " esperado, encontrado " + KindName(p.value.kind));
}
} // namespace

int TFormReader::Int(const DfmProperty& p) {
    Expect(*this, p, DfmValue::Kind::Integer);
    if (p.value.integer < INT32_MIN || p.value.integer > INT32_MAX) Fail(p, "número fora da faixa");
    return static_cast<int>(p.value.integer);
}

double TFormReader::Float(const DfmProperty& p) {
    if (p.value.kind == DfmValue::Kind::Integer) return static_cast<double>(p.value.integer);
    Expect(*this, p, DfmValue::Kind::Float);
    return p.value.number;
}

bool TFormReader::Bool(const DfmProperty& p) {
    Expect(*this, p, DfmValue::Kind::Boolean);
    return p.value.boolean;
}

String TFormReader::Str(const DfmProperty& p) {
    Expect(*this, p, DfmValue::Kind::Text);
    return p.value.text;
}

String TFormReader::Ident(const DfmProperty& p) {
    Expect(*this, p, DfmValue::Kind::Identifier);
    return p.value.text;
}

std::vector<String> TFormReader::Set(const DfmProperty& p) {
    Expect(*this, p, DfmValue::Kind::Set);
    return p.value.items;
}

std::vector<String> TFormReader::List(const DfmProperty& p) {
    Expect(*this, p, DfmValue::Kind::StringList);
    return p.value.items;
}

TColor TFormReader::Color(const DfmProperty& p) {
    if (p.value.kind == DfmValue::Kind::Integer) return static_cast<TColor>(p.value.integer);
    String s = Ident(p);
    try {
        return StringToColor(s);
    } catch (const EConvertError&) {
        Fail(p, "cor desconhecida " + s);
    }
}
