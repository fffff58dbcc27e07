// The entry hostapp finds with the dynamic loader when real windows are wanted.
#include <fstream>
#include <iostream>

#include <QApplication>

#include "hostapp/qt/QtHost.h"
#include "hostapp/qt/QtLoginDialog.h"

extern "C" int KxRunQtHost(IKxHost* host, int argc, char** argv, const char* scriptFile,
                           const char* screenshotFile) {
    std::ifstream file;
    if (scriptFile && std::string(scriptFile) != "-") {
        file.open(scriptFile);
        if (!file) {
            std::cerr << "hostapp: não foi possível ler o roteiro " << scriptFile << "\n";
            return 1;
        }
    }
    // QApplication keeps a reference to the count for its whole life.
    int qtArgc = argc;
    QApplication app(qtArgc, argv);
    int rc = 0;
    // Without a password in the environment the operator signs in here, before any window.
    if (!scriptFile && host->LoginNeeded()) {
        TQtLoginDialog login(host);
        if (login.exec() != QDialog::Accepted) return 1;
    }
    {
        TQtHost qtHost(host);
        if (!scriptFile) {
            qtHost.SignInWhenAsked();
            qtHost.Show(0);
            rc = app.exec();
        } else {
            qtHost.Show();
            rc = qtHost.RunScript(file.is_open() ? static_cast<std::istream&>(file) : std::cin,
                                  std::cout);
            if (screenshotFile &&
                !qtHost.Window().SaveScreenshot(QString::fromLocal8Bit(screenshotFile))) {
                std::cerr << "hostapp: não foi possível gravar a imagem " << screenshotFile << "\n";
                rc = 1;
            }
        }
    }
    return rc;
}
