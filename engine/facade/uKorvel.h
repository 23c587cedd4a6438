#pragma once
// TKorvel: the one object through which an application drives the engine. It keeps a registry
// of documents (one blank document from the start), one of them selected, and answers for the
// selected document and its selected page with plain integers, floats and byte strings.

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "facade/KorvelExport.h"
#include "platform/uCodePage.h"

namespace korvel {

class TPDFDocument;
class TPDFPageText;

// A word of the reading road: its text in the facade's text encoding and its box from the top
// left of the page as displayed (box and rotation applied), in the measurement units.
struct TPageWord {
    std::string Text;
    double X0 = 0;
    double Top = 0;
    double X1 = 0;
    double Bottom = 0;
    double Size = 0;
    std::int32_t Block = 0; // in reading order, from 0
    std::int32_t Line = 0;  // within the block
    std::int32_t Word = 0;  // within the line
};

// A positioned record (option 3) reduced to what layouts of rows read: the lower left corner
// in the record's units and origin, unrounded, and the text in the facade's text encoding.
// `Broken` when a line feed in the font name or text breaks the record's line.
struct TPageRecord {
    double X = 0;
    double Y = 0;
    std::string Text;
    bool Broken = false;
};

class KORVEL_EXPORT TKorvel {
public:
    TKorvel();
    ~TKorvel();
    TKorvel(const TKorvel&) = delete;
    TKorvel& operator=(const TKorvel&) = delete;

    // The load functions answer 1 when the document is loaded and selected, 0 when it cannot be
    // loaded; running out of memory (std::bad_alloc) is not an answer but passes through.
    int LoadFromFile(const std::string& fileName);
    int LoadFromStream(std::istream& stream);
    // Loads bytes already in memory, as LoadFromStream.
    int LoadFromBytes(std::string bytes);
    // Lenient reading for the files loaded from now on: a damaged file is reconstructed by
    // scanning it, and stream lengths are mended at `endstream`. Off by default.
    void SetLenientReading(bool lenient) { FLenient = lenient; }
    bool LenientReading() const { return FLenient; }
    // 1 when the selected document's objects were recovered by scanning the file.
    int Reconstructed();
    std::int32_t SelectedDocument() const;
    int SelectDocument(std::int32_t id);
    int RemoveDocument(std::int32_t id);

    // 0 not encrypted, 1 standard handler, 2 any other handler.
    int Encrypted();
    // Codes 1 to 12 for items 0 to 10 (encrypted, passwords, permissions, key length: 7 for
    // 40 bits, 8 for 128, 12 for 256).
    int SecurityInfo(int item);
    // 3 not encrypted, 4 unsupported handler, 5 user and owner, 1 user, 2 owner, 0 neither.
    // A password that passes becomes the applied one; when objects were already read out of
    // object streams under another key, the document is loaded again in place (same ID) and
    // page 1 is selected.
    int SetPassword(const std::string& password);

    int PageCount();
    // The highest page number the selected document's page tree can reach (see
    // LocatablePageBound), or -1 when the tree cannot be bounded cheaply. Walks the whole tree
    // in the memory of a page or so; the selected page stays selected.
    std::int64_t LocatablePageBound();
    // 1 when pageNumber is now the selected page (a document without a selectable page answers
    // 0 for every number, page 0 included).
    int SelectPage(int pageNumber);
    double PageWidth();
    double PageHeight();
    // The selected page's inherited `Rotate` turned to the nearest quarter: 0, 90, 180 or 270.
    int PageRotation();
    // Width and height of the selected page as displayed, the frame of GetPageWords: its crop
    // box (else media box, else 612 by 792) turned by its rotation; 0 by 0 without a page.
    std::pair<double, double> PageViewSize();
    // The bytes of an entry of the selected document's Info dictionary (a string, decrypted as
    // any string; or a name), as the file holds them; nullopt when the entry is missing or
    // neither.
    std::optional<std::string> InfoEntry(const std::string& key);
    // Text of the selected page for an extraction option (0 to 4); empty for other options.
    // Errors of text production pass through to the caller.
    std::string GetPageText(int option);
    // The records GetPageText(3) writes, unwritten, in their order.
    std::vector<TPageRecord> GetPageRecords();
    // The selected page's text in reading order, in the text encoding: words of a line apart by
    // a space, lines by CR LF, blocks by an empty line, no line end after the last line.
    std::string GetReadingText();
    // The selected page's words in reading order (empty when no page is selected).
    std::vector<TPageWord> GetPageWords();
    // Shown glyphs of the page last laid out in reading order that had no text at all.
    std::size_t UnmappedGlyphs() const { return FUnmappedGlyphs; }
    // Shown glyphs with text and without, over every page laid out in reading order since the
    // document was loaded: a text layer of unmapped glyphs, or none (a scan), shows here.
    std::size_t MappedGlyphTotal() const { return FMappedTotal; }
    std::size_t UnmappedGlyphTotal() const { return FUnmappedTotal; }
    // The encoding of extracted text: Windows-1252 (the default) or UTF-8.
    void SetTextEncoding(TTextEncoding encoding) { FTextEncoding = encoding; }
    TTextEncoding TextEncoding() const { return FTextEncoding; }

    int LastErrorCode() const { return FLastError; }
    // 0 points, 1 millimetres, 2 inches; anything else 0.
    void SetMeasurementUnits(int units);
    // 0 to 3; anything else 0.
    void SetOrigin(int origin);
    // The selected document's origin (0 to 3).
    int Origin() const;

    // The selected document, for the engine's own text road.
    TPDFDocument& SelectedDocumentObject() const { return *FDocuments[FSelected]->Document; }

private:
    // A document with what the facade keeps for it: its display settings and its text
    // production (which holds the font programs of the document's load).
    struct TEntry {
        TEntry();
        ~TEntry();
        std::int32_t ID = 0;
        std::unique_ptr<TPDFDocument> Document;
        std::unique_ptr<TPDFPageText> Text;
        double UnitScale = 1.0;
        int Origin = 0;
    };
    TEntry& SelectedEntry() const { return *FDocuments[FSelected]; }
    int AddAndSelect(std::unique_ptr<TPDFDocument> document);
    // A new document (lenient as set) loaded by `load`, added and selected; 0 when it fails.
    int LoadDocument(const std::function<bool(TPDFDocument&)>& load);
    TEntry* FindEntry(std::int32_t id);

    std::vector<std::unique_ptr<TEntry>> FDocuments; // never empty
    std::size_t FSelected = 0;
    std::int32_t FLastError = 0;
    std::int32_t FNextID = 1; // IDs are never reused while the process lives
    TTextEncoding FTextEncoding = TTextEncoding::Cp1252;
    std::size_t FUnmappedGlyphs = 0;
    std::size_t FMappedTotal = 0;
    std::size_t FUnmappedTotal = 0;
    bool FLenient = false;
};

} // namespace korvel
