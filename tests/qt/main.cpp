// The Qt suites (widgetset and host front end) need one QApplication for the whole run; without a
// display they run offscreen.
#include <QApplication>
#include <gtest/gtest.h>

namespace {
QtMessageHandler gDefault = nullptr;

// The offscreen platform cannot stack windows or pass size hints; its complaints are noise here.
void Filter(QtMsgType type, const QMessageLogContext& ctx, const QString& msg) {
    if (msg.startsWith(QLatin1String("This plugin does not support"))) return;
    if (gDefault) gDefault(type, ctx, msg);
}
} // namespace

int main(int argc, char** argv) {
    gDefault = qInstallMessageHandler(Filter);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
