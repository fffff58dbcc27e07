#pragma once
// The peer each component gets, chosen by the component's class.
#include <functional>
#include <memory>
#include <vector>

#include "qt/QtControlPeer.h"

class TQtPeerFactory {
public:
    using Maker =
        std::function<std::unique_ptr<TQtControlPeer>(IQtFormSite&, TControl*, QWidget* parent)>;

    // Components of every one of the classes `Kinds` (derived from each, or implementing it when
    // it is an interface) get a `Peer`. The latest registration that fits wins, so a class
    // registered after its base gets its own peer and the base's peer still serves the rest.
    template <class Peer, class... Kinds> void Register() {
        static_assert(sizeof...(Kinds) > 0, "a peer is registered for at least one class");
        Register(
            [](const TControl* c) { return (... && (dynamic_cast<const Kinds*>(c) != nullptr)); },
            [](IQtFormSite& form, TControl* c, QWidget* parent) {
                return std::make_unique<Peer>(form, c, parent);
            });
    }
    void Register(std::function<bool(const TControl*)> fits, Maker make);

    // The peer of the latest registration that fits `c`; null when none does.
    std::unique_ptr<TQtControlPeer> Make(IQtFormSite& form, TControl* c, QWidget* parent) const;

private:
    struct Entry {
        std::function<bool(const TControl*)> fits;
        Maker make;
    };
    std::vector<Entry> entries_;
};
