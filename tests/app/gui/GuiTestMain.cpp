// The entry point of the desktop program's tests: a QApplication on the offscreen platform (no
// display needed), with every per-user settings location of the process moved into a temporary
// folder, so that no test reads or writes the user's real settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settingsHome;
    if (!settingsHome.isValid())
        return 2;
    setenv("XDG_CONFIG_HOME", settingsHome.path().toLocal8Bit().constData(), 1);
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsHome.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsHome.path());

    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
