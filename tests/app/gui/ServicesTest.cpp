// Opening with the desktop's program: a failing opener is reported, a working one is not.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "services.h"

using namespace tolvane;

TEST(ShellOpen, ReportsAnOpenerThatFails) {
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ":" + path);
    const QString marker = QDir(bin.path()).filePath("called");
    const QString target = QDir(bin.path()).filePath("out.txt");
    QFile(target).open(QIODevice::WriteOnly);
    for (const int status : {0, 3, 4}) {
        QFile script(QDir(bin.path()).filePath("xdg-open"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write(QStringLiteral("#!/bin/sh\necho \"$1\" > '%1'\nexit %2\n")
                         .arg(marker)
                         .arg(status)
                         .toLocal8Bit());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(marker);
        std::vector<QString> messages;
        ShellOpen(target, [&messages](const QString& m) { messages.push_back(m); });
        ASSERT_TRUE(QTest::qWaitFor([&]() { return QFile::exists(marker); }, 5000));
        if (status == 0)
            QTest::qWait(300); // time for a wrong report to come
        else
            EXPECT_TRUE(QTest::qWaitFor([&]() { return !messages.empty(); }, 5000));
        QFile called(marker);
        ASSERT_TRUE(called.open(QIODevice::ReadOnly));
        EXPECT_EQ(called.readAll().trimmed(), target.toLocal8Bit());
        if (status == 0) {
            EXPECT_TRUE(messages.empty()) << status;
        } else {
            ASSERT_EQ(messages.size(), 1u) << status;
            EXPECT_TRUE(messages[0].startsWith("Can not open " + target + ":"))
                << messages[0].toStdString();
        }
    }
    qputenv("PATH", path);
}
