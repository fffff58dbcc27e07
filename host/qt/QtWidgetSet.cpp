#include "qt/QtWidgetSet.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStyleFactory>

#include "qt/QtButtonPeers.h"
#include "qt/QtEditPeers.h"
#include "qt/QtStaticPeers.h"
#include "qt/QtText.h"
#include "vcl/EditButton.h"
#include "vcl/StdCtrls.h"

TQtWidgetSet::TQtWidgetSet() {
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(style);
    QApplication::setFont(ToQFont(TFont{}));
    // The toolkit's own texts (window menus, standard buttons, the calendar) in the users'
    // language, whatever the workstation's settings.
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    translator_ = std::make_unique<QTranslator>();
    if (translator_->load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator_.get());
    else
        translator_.reset();
    // From the most general to the most derived: the nearest class registered decides, so a
    // subclass gets a working peer unchanged.
    peers_.Register<TQtGenericPeer, TControl>();
    peers_.Register<TQtLabelPeer, TLabel>();
    peers_.Register<TQtSpeedButtonPeer, TSpeedButton>();
    peers_.Register<TQtPanelPeer, TPanel>();
    peers_.Register<TQtGroupBoxPeer, TGroupBox>();
    peers_.Register<TQtRadioButtonPeer, TRadioButton>();
    peers_.Register<TQtCheckBoxPeer, TCustomCheckBox>();
    peers_.Register<TQtEditPeer, TCustomEdit>();
    peers_.Register<TQtButtonEditPeer, TCustomEdit, IEditButton>();
}

TQtWidgetSet::~TQtWidgetSet() {
    Uninstall();
    if (translator_) QCoreApplication::removeTranslator(translator_.get());
    for (auto& [form, fp] : forms_) {
        fp->Detach(true);
        delete fp;
    }
    forms_.clear();
    if (waitCursor_) QApplication::restoreOverrideCursor();
}

void TQtWidgetSet::Install() {
    Application->SetPeer(this);
}

void TQtWidgetSet::Uninstall() {
    if (Application && Application->Peer() == this) Application->SetPeer(nullptr);
}

TQtFormPeer* TQtWidgetSet::CreatePeers(TCustomForm* form) {
    if (!form) return nullptr;
    if (TQtFormPeer* fp = FormPeer(form)) {
        fp->Sync();
        return fp;
    }
    auto* fp = new TQtFormPeer(*this, form, mdiArea_);
    forms_[form] = fp;
    return fp;
}

TQtFormPeer* TQtWidgetSet::FormPeer(const TCustomForm* form) const {
    auto it = forms_.find(form);
    return it == forms_.end() ? nullptr : it->second;
}

QWidget* TQtWidgetSet::WindowOf(const TCustomForm* form) const {
    TQtFormPeer* fp = FormPeer(form);
    return fp ? fp->Window() : nullptr;
}

void TQtWidgetSet::SyncForms() {
    if (Application) {
        for (int i = 0; i < Application->ComponentCount(); ++i) {
            auto* f = dynamic_cast<TCustomForm*>(Application->Components(i));
            if (f && f->Visible() && !f->Released() && !FormPeer(f)) CreatePeers(f);
        }
    }
    for (auto& [form, fp] : forms_)
        fp->Sync();
}

void TQtWidgetSet::AfterInput(bool queuedFocus) {
    std::vector<TQtFormPeer*> all;
    for (auto& [form, fp] : forms_)
        all.push_back(fp);
    for (TQtFormPeer* fp : all) {
        fp->Sync();
        if (queuedFocus)
            fp->SyncFocusLater();
        else
            fp->SyncFocus();
    }
}

std::unique_ptr<TQtControlPeer> TQtWidgetSet::MakePeer(IQtFormSite& form, TControl* c,
                                                       QWidget* parent) {
    return peers_.Make(form, c, parent);
}

void TQtWidgetSet::FormShown(TCustomForm* form) {
    TQtFormPeer* fp = CreatePeers(form);
    if (!fp) return;
    fp->ApplyAll();
    QWidget* win = fp->Window();
    win->raise();
    if (QMdiSubWindow* sub = fp->SubWindow(); sub && sub->mdiArea())
        sub->mdiArea()->setActiveSubWindow(sub);
    else
        win->activateWindow();
    fp->SyncFocusLater();
}

void TQtWidgetSet::FormClosed(TCustomForm* form) {
    auto it = forms_.find(form);
    if (it == forms_.end()) return;
    TQtFormPeer* fp = it->second;
    forms_.erase(it);
    // Called while the form is being freed, perhaps from inside one of its widgets' events: the
    // widgets and peers go when control returns to the event loop.
    fp->Detach(false);
    fp->deleteLater();
}

void TQtWidgetSet::Beep() {
    QApplication::beep();
}

void TQtWidgetSet::CursorChanged(int cursor) {
    if (cursor == crHourGlass) {
        if (!waitCursor_) QApplication::setOverrideCursor(Qt::WaitCursor);
        waitCursor_ = true;
    } else if (waitCursor_) {
        QApplication::restoreOverrideCursor();
        waitCursor_ = false;
    }
}

void TQtWidgetSet::Bury(std::unique_ptr<TQtControlPeer> peer) {
    if (peer) graveyard_.push_back(std::move(peer));
}
