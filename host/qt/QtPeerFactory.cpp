#include "qt/QtPeerFactory.h"

void TQtPeerFactory::Register(std::function<bool(const TControl*)> fits, Maker make) {
    entries_.push_back({std::move(fits), std::move(make)});
}

std::unique_ptr<TQtControlPeer> TQtPeerFactory::Make(IQtFormSite& form, TControl* c,
                                                     QWidget* parent) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->fits(c)) return it->make(form, c, parent);
    return nullptr;
}
