#include "hostapp/qt/QtLoginDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "qt/QtDialogs.h"
#include "qt/QtHostWindow.h"
#include "qt/QtText.h"

TQtLoginDialog::TQtLoginDialog(IKxHost* host, QWidget* parent) : QDialog(parent), host_(host) {
    MakeDialogWindow(this);
    setWindowTitle(QString::fromUtf8("Entrar - KX - Compras e Documentos Fiscais"));
    setWindowIcon(TQtHostWindow::AppIcon());
    operator_ = new QLineEdit(ToQ(host->OperatorName()), this);
    operator_->setMaxLength(40);
    password_ = new QLineEdit(this);
    password_->setEchoMode(QLineEdit::Password);
    message_ = new QLabel(this);
    message_->setWordWrap(true);
    message_->setStyleSheet("color: #b00020;");
    message_->hide();
    auto* form = new QFormLayout;
    form->addRow(QString::fromUtf8("&Operador:"), operator_);
    form->addRow(QString::fromUtf8("&Senha:"), password_);
    auto* buttons = new QDialogButtonBox(this);
    login_ = buttons->addButton(QString::fromUtf8("&Entrar"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QString::fromUtf8("&Cancelar"), QDialogButtonBox::RejectRole);
    login_->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &TQtLoginDialog::TryLogin);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QString::fromUtf8("Informe o operador e a senha para entrar no servidor de aplicação ") +
            ToQ(host->ServerAddress()) + ".",
        this));
    layout->addLayout(form);
    layout->addWidget(message_);
    layout->addWidget(buttons);
    (operator_->text().isEmpty() ? operator_ : password_)->setFocus();
}

void TQtLoginDialog::ShowReason(const QString& reason) {
    message_->setText(reason);
    message_->setVisible(!reason.isEmpty());
}

void TQtLoginDialog::TryLogin() {
    const QString name = operator_->text().trimmed();
    if (name.isEmpty() || password_->text().isEmpty()) {
        message_->setText(QString::fromUtf8("Informe o operador e a senha."));
        message_->show();
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const String failure = host_->LogIn(FromQ(name), FromQ(password_->text()));
    QApplication::restoreOverrideCursor();
    if (failure.empty()) {
        accept();
        return;
    }
    message_->setText(ToQ(failure));
    message_->show();
    password_->clear();
    password_->setFocus();
}
