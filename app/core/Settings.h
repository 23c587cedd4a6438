#pragma once
// The extraction settings: which pages a run takes, the header and footer framing each page,
// and the text layout. Stored per user with QSettings("Tolvane", "TextExtractor") in the group
// "Setting" (the registry on Windows, an INI file under the XDG config folder elsewhere): the
// integers "Range", "Page", "From", "To", "TextType" and the strings "Footer", "Header".
// Values outside their ranges are kept as they are; the run decides what they mean. Text is
// UTF-8. The store is the window's: Load and Save are defined with it (app/gui/Settings.cpp),
// so that the command line, which never reads nor writes it, does not link Qt.
// Beside them, in the group "Window", the window keeps "LastFolder", where its file dialogs start.

#include <cstdint>
#include <string>

class QSettings;

namespace tolvane {

class TSettings {
public:
    // Reads every value that exists, else keeps its default. TextType keeps the low 8 bits.
    void Load();
    void Load(QSettings& store);
    // Writes all seven values (the key is made when missing).
    void Save() const;
    void Save(QSettings& store) const;
    // The range becomes the whole opened file: pages 1 to openedPageCount. Not saved.
    void ResetRange(std::int32_t openedPageCount) {
        FFirstPage = 1;
        FLastPage = openedPageCount;
    }

    // 1 all pages, 2 the range FirstPage to LastPage.
    std::int32_t RangeKind() const { return FRangeKind; }
    // 1 all pages, 2 odd pages, 3 even pages (by page number in the document).
    std::int32_t PageFilter() const { return FPageFilter; }
    std::int32_t FirstPage() const { return FFirstPage; }
    std::int32_t LastPage() const { return FLastPage; }
    // Header and footer lines with placeholders; empty means no line.
    const std::string& Footer() const { return FFooter; }
    const std::string& Header() const { return FHeader; }
    // 0 in content order, 1 smart rows, 2 with positions, 3 reading order; others read as 1.
    std::uint8_t TextType() const { return FTextType; }
    // The folder the window's file dialogs used last; empty when none is known. Load reads it;
    // SaveLastFolder sets and stores it at once (it is not one of the seven values Save writes).
    const std::string& LastFolder() const { return FLastFolder; }
    void SaveLastFolder(const std::string& folder);
    void SaveLastFolder(const std::string& folder, QSettings& store);

    void SetRangeKind(std::int32_t value) { FRangeKind = value; }
    void SetPageFilter(std::int32_t value) { FPageFilter = value; }
    void SetFirstPage(std::int32_t value) { FFirstPage = value; }
    void SetLastPage(std::int32_t value) { FLastPage = value; }
    void SetFooter(const std::string& value) { FFooter = value; }
    void SetHeader(const std::string& value) { FHeader = value; }
    void SetTextType(std::uint8_t value) { FTextType = value; }

private:
    std::int32_t FRangeKind = 1;
    std::int32_t FPageFilter = 1;
    std::int32_t FFirstPage = 1;
    std::int32_t FLastPage = 1;
    std::string FFooter = " = Page &p =";
    std::string FHeader;
    std::uint8_t FTextType = 1;
    std::string FLastFolder;
};

} // namespace tolvane
