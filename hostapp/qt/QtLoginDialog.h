#pragma once
// The operator signs in: name and password, "Entrar" tries them on the server and the dialog
// stays open with the server's message until they are accepted or the operator cancels.
#include <QDialog>

#include "hostapp/Host.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TQtLoginDialog : public QDialog {
public:
    explicit TQtLoginDialog(IKxHost* host, QWidget* parent = nullptr);

    QLineEdit* OperatorBox() const { return operator_; }
    QLineEdit* PasswordBox() const { return password_; }
    QLabel* MessageLabel() const { return message_; }
    QPushButton* LoginButton() const { return login_; }
    // One attempt with what the boxes hold; accepts the dialog when the server does.
    void TryLogin();
    // Why the operator is asked (a session that ended, a password no longer accepted).
    void ShowReason(const QString& reason);

private:
    IKxHost* host_;
    QLineEdit* operator_;
    QLineEdit* password_;
    QLabel* message_;
    QPushButton* login_;
};
