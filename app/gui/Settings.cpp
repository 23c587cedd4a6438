#include "Settings.h"

#include <QSettings>

namespace tolvane {

namespace {

const QString kGroup = QStringLiteral("Setting");
const QString kLastFolder = QStringLiteral("Window/LastFolder");

// A stored integer as the 32-bit value it was written as (a DWORD above 2^31 wraps, as it
// reads on Windows); a value that is no integer keeps the default.
std::int32_t readInteger(const QSettings& store, const QString& name, std::int32_t fallback) {
    const QVariant value = store.value(name);
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok)
        return fallback;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
}

std::string readText(const QSettings& store, const QString& name, const std::string& fallback) {
    const QVariant value = store.value(name);
    return value.isValid() ? value.toString().toStdString() : fallback;
}

} // namespace

void TSettings::Load() {
    QSettings store(QStringLiteral("Tolvane"), QStringLiteral("TextExtractor"));
    Load(store);
}

void TSettings::Load(QSettings& store) {
    store.beginGroup(kGroup);
    FRangeKind = readInteger(store, QStringLiteral("Range"), FRangeKind);
    FPageFilter = readInteger(store, QStringLiteral("Page"), FPageFilter);
    FFirstPage = readInteger(store, QStringLiteral("From"), FFirstPage);
    FLastPage = readInteger(store, QStringLiteral("To"), FLastPage);
    FFooter = readText(store, QStringLiteral("Footer"), FFooter);
    FHeader = readText(store, QStringLiteral("Header"), FHeader);
    FTextType =
        static_cast<std::uint8_t>(readInteger(store, QStringLiteral("TextType"), FTextType) & 0xFF);
    store.endGroup();
    FLastFolder = readText(store, kLastFolder, FLastFolder);
}

void TSettings::Save() const {
    QSettings store(QStringLiteral("Tolvane"), QStringLiteral("TextExtractor"));
    Save(store);
}

void TSettings::Save(QSettings& store) const {
    store.beginGroup(kGroup);
    store.setValue(QStringLiteral("Range"), FRangeKind);
    store.setValue(QStringLiteral("Page"), FPageFilter);
    store.setValue(QStringLiteral("From"), FFirstPage);
    store.setValue(QStringLiteral("To"), FLastPage);
    store.setValue(QStringLiteral("Footer"), QString::fromStdString(FFooter));
    store.setValue(QStringLiteral("Header"), QString::fromStdString(FHeader));
    store.setValue(QStringLiteral("TextType"), static_cast<int>(FTextType));
    store.endGroup();
    store.sync();
}

void TSettings::SaveLastFolder(const std::string& folder) {
    QSettings store(QStringLiteral("Tolvane"), QStringLiteral("TextExtractor"));
    SaveLastFolder(folder, store);
}

void TSettings::SaveLastFolder(const std::string& folder, QSettings& store) {
    FLastFolder = folder;
    store.setValue(kLastFolder, QString::fromStdString(folder));
    store.sync();
}

} // namespace tolvane
