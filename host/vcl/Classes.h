#pragma once
// Root classes of the component model: TObject, TComponent (ownership, names), TStrings.
#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "rtl/SysUtils.h"

using Char = char32_t;

class TObject {
public:
    virtual ~TObject() = default;
    virtual String ClassName() const { return "TObject"; }
};

class TComponent;
class TFormReader;
struct DfmProperty;
using TNotifyEvent = std::function<void(TObject* sender)>;
using TKeyPressEvent = std::function<void(TObject* sender, Char& key)>;

// Keys that type no character, by their classic virtual-key codes, and the modifiers held with
// them. A handler that sets the key to 0 has taken it.
using Word = unsigned short;
constexpr Word VK_TAB = 9, VK_RETURN = 13, VK_ESCAPE = 27, VK_SPACE = 32, VK_PRIOR = 33,
               VK_NEXT = 34, VK_END = 35, VK_HOME = 36, VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39,
               VK_DOWN = 40, VK_F4 = 115;
using TShiftState = unsigned;
constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4;
using TKeyEvent = std::function<void(TObject* sender, Word& key, TShiftState shift)>;

// Raised when a component operation is not allowed in the current state.
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

class EComponentError : public Exception {
public:
    using Exception::Exception;
};

// A component frees what it owns, in reverse order of creation, and finds owned components by name.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    String ClassName() const override { return "TComponent"; }
    const String& Name() const { return name_; }
    void SetName(const String& name);
    TComponent* Owner() const { return owner_; }

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int i) const { return components_.at(i); }
    TComponent* FindComponent(const String& name) const;
    void InsertComponent(TComponent* c);
    void RemoveComponent(TComponent* c);

    // True while the owner is freeing this component; handlers must not run then.
    bool Destroying() const { return destroying_; }
    bool Loading() const { return loading_; }
    void SetLoading(bool on) { loading_ = on; }
    // Called once the form definition has been read and every reference resolved.
    virtual void Loaded() {}
    // Another component is being freed: drop references to it.
    virtual void Notification(TComponent* component, bool removing);
    // Form definition: sets one property by name; false when this class has no such property.
    virtual bool ReadProperty(const DfmProperty& p, TFormReader& reader);
    // Form definition: this component was written inside the definition of `parent`.
    virtual void SetParentComponent(TComponent* parent);

    // The published methods of a root component (form, data module), bound to events by name when
    // its form definition is read. A later publication under the same name replaces the earlier
    // one.
    void PublishMethod(const String& name, std::any fn);
    const std::any* FindMethod(const String& name) const;
    template <class C, class... A> void Publish(const String& name, void (C::*m)(A...)) {
        C* self = static_cast<C*>(this);
        PublishMethod(name, std::function<void(A...)>(
                                [self, m](A... args) { (self->*m)(std::forward<A>(args)...); }));
    }

    // The published component fields of a root, declared once where the class declares them:
    //     TMaskEdit* medNrInsJurNF = Published(medNrInsJurNF, "medNrInsJurNF");
    // The form reader points each at the component of its name as it creates it, refuses one of
    // a class the field cannot hold, and raises for a field the definition leaves unset. A field
    // is cleared when its component leaves this owner.
    template <class T> T* Published(T*& field, const String& name) {
        PublishField(
            name,
            [&field](TComponent* c) {
                T* t = dynamic_cast<T*>(c);
                if (c && !t) return false;
                field = t;
                return true;
            },
            [&field] { return static_cast<TComponent*>(field); });
        return nullptr;
    }
    // Points the published field named as `c` at it; false when the field cannot hold its class.
    // A component without a field of its name is left alone.
    bool SetPublishedField(TComponent* c);
    // The name of the first published field that holds no component, or "" when all do.
    String UnsetPublishedField() const;

    int Tag = 0;

protected:
    void BeginDestroy();
    // Frees the owned components now; derived destructors call it while their own state is alive.
    void DestroyComponents();

private:
    TComponent* owner_ = nullptr;
    String name_;
    std::vector<TComponent*> components_;
    bool destroying_ = false;
    bool loading_ = false;
    struct TPublishedField {
        String name;
        std::function<bool(TComponent*)> assign;
        std::function<TComponent*()> value;
    };
    void PublishField(const String& name, std::function<bool(TComponent*)> assign,
                      std::function<TComponent*()> value);
    TPublishedField* FindField(const String& name) const;

    std::unique_ptr<std::map<String, std::any>> methods_;
    std::unique_ptr<std::vector<TPublishedField>> fields_;
};

// An ordered list of text lines (SQL text, catalogue entries, names).
class TStrings {
public:
    TStrings() = default;
    TStrings(std::initializer_list<String> lines) : lines_(lines) {}
    int Count() const { return static_cast<int>(lines_.size()); }
    const String& operator[](int i) const { return lines_.at(i); }
    const String& Strings(int i) const { return lines_.at(i); }
    void Add(const String& s) { lines_.push_back(s); }
    void Clear() { lines_.clear(); }
    void Assign(const std::vector<String>& lines) { lines_ = lines; }
    const std::vector<String>& Lines() const { return lines_; }
    // The lines joined by line breaks, the last one without a break.
    String Text() const;
    void SetText(const String& text);
    int IndexOf(const String& s) const;
    bool operator==(const TStrings& o) const { return lines_ == o.lines_; }

private:
    std::vector<String> lines_;
};

template <class T> T* FindOwned(const TComponent* owner, const String& name) {
    return dynamic_cast<T*>(owner ? owner->FindComponent(name) : nullptr);
}
