#include "vcl/Classes.h"

#include <algorithm>

#include "vcl/FormReader.h"

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->InsertComponent(this);
}

TComponent::~TComponent() {
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
    BeginDestroy();
    // Newest first, as the classic library does, so later components can still see earlier ones.
    while (!components_.empty()) {
        TComponent* c = components_.back();
        components_.pop_back();
        c->owner_ = nullptr;
        for (TComponent* other : components_)
            other->Notification(c, true);
        delete c;
    }
}

void TComponent::BeginDestroy() {
    if (destroying_) return;
    destroying_ = true;
    for (TComponent* c : components_)
        c->BeginDestroy();
}

void TComponent::SetName(const String& name) {
    if (name == name_) return;
    if (owner_ && !name.empty()) {
        TComponent* other = owner_->FindComponent(name);
        if (other && other != this)
            throw EComponentError("Já existe um componente chamado " + name + ".");
    }
    name_ = name;
}

TComponent* TComponent::FindComponent(const String& name) const {
    if (name.empty()) return nullptr;
    for (TComponent* c : components_)
        if (c->name_ == name) return c;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* c) {
    components_.push_back(c);
    c->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* c) {
    auto it = std::find(components_.begin(), components_.end(), c);
    if (it == components_.end()) return;
    components_.erase(it);
    if (!destroying_) {
        // While the owner is being freed its fields may belong to a derived part already gone.
        if (TPublishedField* f = FindField(c->Name()); f && f->value() == c) f->assign(nullptr);
        Notification(c, true);
        for (TComponent* other : components_)
            other->Notification(c, true);
    }
}

void TComponent::Notification(TComponent*, bool) {}

String TStrings::Text() const {
    String out;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i) out += '\n';
        out += lines_[i];
    }
    return out;
}

void TStrings::SetText(const String& text) {
    lines_.clear();
    String cur;
    for (size_t i = 0; i < text.size(); ++i) {
        char ch = text[i];
        if (ch == '\r') continue;
        if (ch == '\n') {
            lines_.push_back(cur);
            cur.clear();
        } else {
            cur += ch;
        }
    }
    if (!cur.empty() || (!text.empty() && text.back() != '\n')) lines_.push_back(cur);
}

int TStrings::IndexOf(const String& s) const {
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i] == s) return static_cast<int>(i);
    return -1;
}

void TComponent::PublishMethod(const String& name, std::any fn) {
    if (!methods_) methods_ = std::make_unique<std::map<String, std::any>>();
    (*methods_)[name] = std::move(fn);
}

const std::any* TComponent::FindMethod(const String& name) const {
    if (!methods_) return nullptr;
    auto it = methods_->find(name);
    return it == methods_->end() ? nullptr : &it->second;
}

void TComponent::PublishField(const String& name, std::function<bool(TComponent*)> assign,
                              std::function<TComponent*()> value) {
    if (!fields_) fields_ = std::make_unique<std::vector<TPublishedField>>();
    if (TPublishedField* f = FindField(name)) {
        f->assign = std::move(assign);
        f->value = std::move(value);
        return;
    }
    fields_->push_back({name, std::move(assign), std::move(value)});
}

TComponent::TPublishedField* TComponent::FindField(const String& name) const {
    if (!fields_ || name.empty()) return nullptr;
    for (TPublishedField& f : *fields_)
        if (f.name == name) return &f;
    return nullptr;
}

bool TComponent::SetPublishedField(TComponent* c) {
    TPublishedField* f = FindField(c->Name());
    return !f || f->assign(c);
}

String TComponent::UnsetPublishedField() const {
    if (fields_)
        for (const TPublishedField& f : *fields_)
            if (!f.value()) return f.name;
    return "";
}

bool TComponent::ReadProperty(const DfmProperty& p, TFormReader& r) {
    if (p.name == "Tag") {
        Tag = r.Int(p);
        return true;
    }
    // Where the designer placed a non-visual component; it has no effect at run time.
    if (p.name == "Left" || p.name == "Top") {
        r.Int(p);
        return true;
    }
    return false;
}

void TComponent::SetParentComponent(TComponent*) {}
