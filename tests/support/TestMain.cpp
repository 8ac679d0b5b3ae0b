#include <cstdlib>
#include <string_view>

#include <QApplication>
#include <QDir>
#include <QStandardPaths>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Test discovery runs the binary without the CTest environment. The offscreen screen is made
    // as large as a desktop's, so that the whole menu fits on it rather than scrolling.
    const char* platform = getenv("QT_QPA_PLATFORM");
    if (!platform || std::string_view(platform) == "offscreen")
        setenv("QT_QPA_PLATFORM", "offscreen:configfile=" TESSALY_OFFSCREEN_CONFIG, 1);
    if (!getenv("XDG_RUNTIME_DIR")) {
        const QByteArray runtime = QDir::tempPath().toUtf8() + "/tessaly-test-runtime";
        QDir().mkpath(QString::fromUtf8(runtime));
        QFile::setPermissions(QString::fromUtf8(runtime), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        setenv("XDG_RUNTIME_DIR", runtime.constData(), 1);
    }
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
