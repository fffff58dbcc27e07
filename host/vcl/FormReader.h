#pragma once
// Builds components from a form definition: classes by name, the root's published fields pointed
// at them by name, properties by name, events bound by handler name to the root's published
// methods, references resolved once everything exists.
#include <any>
#include <functional>
#include <typeinfo>
#include <vector>

#include "vcl/Classes.h"
#include "vcl/DfmParser.h"
#include "vcl/Graphics.h"

using TComponentFactory = std::function<TComponent*(TComponent* owner)>;

void RegisterComponentClass(const String& className, TComponentFactory factory);
bool IsComponentClassRegistered(const String& className);
template <class T> void RegisterComponentClass(const String& className) {
    RegisterComponentClass(className,
                           [](TComponent* owner) -> TComponent* { return new T(owner); });
}

// Shared roots (data modules) whose components a definition may name as "Module.Component".
void RegisterGlobalRoot(TComponent* root);
void UnregisterGlobalRoot(TComponent* root);
TComponent* FindGlobalComponent(const String& dottedName);

class TFormReader {
public:
    explicit TFormReader(TComponent* root);
    // Reads a definition onto the root. `inherited` objects must exist already (from a base class's
    // definition read before); `object` ones are created. Any fault raises EDfmError with the line,
    // a published field the definition leaves unset among them.
    void Read(const String& text);

    int Int(const DfmProperty& p);
    double Float(const DfmProperty& p);
    bool Bool(const DfmProperty& p);
    String Str(const DfmProperty& p);
    String Ident(const DfmProperty& p);
    std::vector<String> Set(const DfmProperty& p);
    std::vector<String> List(const DfmProperty& p);
    TColor Color(const DfmProperty& p);
    [[noreturn]] void Fail(const DfmProperty& p, const String& reason);

    // The root's published method named by the property, as event type Ev.
    template <class Ev> Ev Method(const DfmProperty& p) {
        String name = Ident(p);
        const std::any* m = root_->FindMethod(name);
        if (!m) Fail(p, "método '" + name + "' não existe em " + root_->ClassName());
        if (const Ev* ev = std::any_cast<Ev>(m)) return *ev;
        Fail(p, "o método '" + name + "' não tem a forma do evento " + p.name);
    }

    // A reference to another component, resolved after every component exists.
    template <class T> void Ref(const DfmProperty& p, std::function<void(T*)> assign) {
        String name = Ident(p);
        int line = p.line;
        String prop = p.name;
        fixups_.push_back([this, name, line, prop, assign] {
            TComponent* c = Resolve(name);
            if (!c) throw EDfmError(line, "componente '" + name + "' não encontrado para " + prop);
            T* t = dynamic_cast<T*>(c);
            if (!t) throw EDfmError(line, "o componente '" + name + "' não serve para " + prop);
            assign(t);
        });
    }
    void Fixup(std::function<void()> f) { fixups_.push_back(std::move(f)); }
    TComponent* Resolve(const String& name) const;
    TComponent* Root() const { return root_; }

private:
    void Apply(const DfmObject& obj, TComponent* target, TComponent* parent);
    void SetProperties(const DfmObject& obj, TComponent* target);
    TComponent* root_;
    std::vector<std::function<void()>> fixups_;
    std::vector<TComponent*> touched_;
};
