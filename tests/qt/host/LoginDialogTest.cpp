// The login dialog of the real window: a refused password is shown and asked again, the dialog
// closes only when the server accepts.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "hostapp/qt/QtLoginDialog.h"

#include <gtest/gtest.h>

namespace {

class TLoginHost : public IKxHost {
public:
    void OpenScreen() override {}
    TCustomForm* ScreenForm() override { return nullptr; }
    String ServerAddress() const override { return "127.0.0.1:4711"; }
    String DatabaseUrl() const override { return ""; }
    String OperatorName() const override { return "ana"; }
    int RunScript(std::istream&, std::ostream&) override { return 0; }
    bool LoginNeeded() override { return true; }
    String LogIn(const String& name, const String& password) override {
        tries.push_back(name + "/" + password);
        return password == "certa-123" ? "" : "Operador ou senha incorretos.";
    }
    std::vector<String> tries;
};

TEST(LoginDialogTest, AWrongPasswordIsShownAndTheRightOneSignsIn) {
    TLoginHost host;
    TQtLoginDialog dlg(&host);
    dlg.show();
    EXPECT_EQ(dlg.OperatorBox()->text(), "ana");
    EXPECT_EQ(dlg.PasswordBox()->echoMode(), QLineEdit::Password);

    dlg.LoginButton()->click(); // nothing typed: asked for, the server not bothered
    EXPECT_TRUE(host.tries.empty());
    EXPECT_EQ(dlg.MessageLabel()->text(), QString::fromUtf8("Informe o operador e a senha."));

    QTest::keyClicks(dlg.PasswordBox(), "errada-1");
    QTest::keyClick(dlg.PasswordBox(), Qt::Key_Return);
    EXPECT_EQ(host.tries, std::vector<String>{"ana/errada-1"});
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_EQ(dlg.MessageLabel()->text(), QString::fromUtf8("Operador ou senha incorretos."));
    EXPECT_TRUE(dlg.PasswordBox()->text().isEmpty());

    QTest::keyClicks(dlg.PasswordBox(), "certa-123");
    dlg.LoginButton()->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
}

} // namespace
