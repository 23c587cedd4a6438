// The settings store: defaults, the seven values written with their types, and a test-only
// location so that no test touches the user's own settings.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>

#include "Settings.h"

using tolvane::TSettings;

namespace {

// Points every per-user settings location of this process into a temporary folder.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FDir.isValid());
        QStandardPaths::setTestModeEnabled(true);
        setenv("XDG_CONFIG_HOME", FDir.path().toLocal8Bit().constData(), 1);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, FDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, FDir.path());
    }
    QString StoreFile() const { return FDir.path() + "/Tolvane/TextExtractor.conf"; }
    QString ReadStoreFile() const {
        QFile file(StoreFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QTemporaryDir FDir;
};

} // namespace

TEST_F(SettingsTest, NoStoreMeansTheDefaults) {
    TSettings settings;
    settings.Load();
    EXPECT_EQ(settings.RangeKind(), 1);
    EXPECT_EQ(settings.PageFilter(), 1);
    EXPECT_EQ(settings.FirstPage(), 1);
    EXPECT_EQ(settings.LastPage(), 1);
    EXPECT_EQ(settings.Footer(), " = Page &p =");
    EXPECT_EQ(settings.Header(), "");
    EXPECT_EQ(settings.TextType(), 1);
    EXPECT_FALSE(QFile::exists(StoreFile())) << "loading writes nothing";
}

TEST_F(SettingsTest, SevenValuesRoundTripWithTheirTypes) {
    TSettings settings;
    settings.SetRangeKind(2);
    settings.SetPageFilter(3);
    settings.SetFirstPage(4);
    settings.SetLastPage(12);
    settings.SetFooter("");
    settings.SetHeader("&n \xe2\x80\x94 &p/&a");
    settings.SetTextType(2);
    settings.Save();

    const QString text = ReadStoreFile();
    EXPECT_TRUE(text.startsWith("[Setting]")) << text.toStdString();
    for (const char* line :
         {"Range=2\n", "Page=3\n", "From=4\n", "To=12\n", "TextType=2\n", "Footer=\n"})
        EXPECT_TRUE(text.contains(line)) << line << " in\n" << text.toStdString();

    TSettings loaded;
    loaded.Load();
    EXPECT_EQ(loaded.RangeKind(), 2);
    EXPECT_EQ(loaded.PageFilter(), 3);
    EXPECT_EQ(loaded.FirstPage(), 4);
    EXPECT_EQ(loaded.LastPage(), 12);
    EXPECT_EQ(loaded.Footer(), "") << "a cleared footer stays cleared";
    EXPECT_EQ(loaded.Header(), "&n \xe2\x80\x94 &p/&a");
    EXPECT_EQ(loaded.TextType(), 2);
}

TEST_F(SettingsTest, StoredValuesAreTakenAsTheyAre) {
    {
        QSettings store("Tolvane", "TextExtractor");
        store.setValue("Setting/TextType", 258); // only the low 8 bits count
        store.setValue("Setting/Range", 7);
        store.setValue("Setting/To", "4294967295"); // a DWORD of all ones reads as -1
        store.setValue("Setting/From", "not a number");
        store.setValue("Setting/Header", " &p ");
    }
    TSettings settings;
    settings.Load();
    EXPECT_EQ(settings.TextType(), 2);
    EXPECT_EQ(settings.RangeKind(), 7);
    EXPECT_EQ(settings.LastPage(), -1);
    EXPECT_EQ(settings.FirstPage(), 1);
    EXPECT_EQ(settings.Header(), " &p ");
    EXPECT_EQ(settings.Footer(), " = Page &p =") << "a value not stored keeps its default";
}

TEST_F(SettingsTest, ResetRangeTakesTheWholeFileWithoutSaving) {
    TSettings settings;
    settings.SetRangeKind(2);
    settings.SetFirstPage(5);
    settings.SetLastPage(6);
    settings.ResetRange(12);
    EXPECT_EQ(settings.FirstPage(), 1);
    EXPECT_EQ(settings.LastPage(), 12);
    EXPECT_EQ(settings.RangeKind(), 2) << "the range kind is not changed";
    EXPECT_FALSE(QFile::exists(StoreFile()));
}
