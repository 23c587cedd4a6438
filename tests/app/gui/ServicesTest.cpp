// Opening with the desktop's program: an opener that fails is reported, one that works is not.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "services.h"

TEST(ShellOpen, ReportsAnOpenerThatFails) {
    QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ":" + path);
    const QString marker = bin.filePath("called"), target = bin.filePath("out.txt");
    for (const int status : {0, 4}) {
        QFile script(bin.filePath("xdg-open"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write(QStringLiteral("#!/bin/sh\necho \"$1\" > '%1'\nexit %2\n")
                         .arg(marker, QString::number(status))
                         .toLocal8Bit());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(marker);
        std::vector<QString> messages;
        tolvane::ShellOpen(target, [&messages](const QString& m) { messages.push_back(m); });
        ASSERT_TRUE(QTest::qWaitFor([&]() { return QFile::exists(marker); }, 5000));
        if (status == 0)
            QTest::qWait(300); // time for a wrong report to come
        else
            EXPECT_TRUE(QTest::qWaitFor([&]() { return !messages.empty(); }, 5000));
        ASSERT_EQ(messages.size(), status == 0 ? 0u : 1u);
        if (status != 0) {
            EXPECT_TRUE(messages[0].startsWith("Can not open " + target + ":"));
        }
    }
    qputenv("PATH", path);
}
