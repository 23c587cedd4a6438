#include "facade/uKorvel.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "document/uPDFDocument.h"
#include "file/uPDFErrors.h"
#include "file/uPDFStructure.h"
#include "pages/uPDFPageReach.h"
#include "pages/uPDFPageTree.h"
#include "platform/uLocalTime.h"
#include "security/uPDFSecurity.h"
#include "text/uPDFPageText.h"

namespace korvel {

namespace {

constexpr const char* kProducer = "Tolvane Text Extractor";

// "D:YYYYMMDDHHmmSS" in local time (integers only: no locale involved).
std::string pdfDateNow() {
    const TLocalTime now = LocalTimeNow();
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "D:%04d%02u%02u%02d%02d%02d",
                  static_cast<int>(now.Date.year()), static_cast<unsigned>(now.Date.month()),
                  static_cast<unsigned>(now.Date.day()), static_cast<int>(now.Time.hours().count()),
                  static_cast<int>(now.Time.minutes().count()),
                  static_cast<int>(now.Time.seconds().count()));
    return buffer;
}

} // namespace

TKorvel::TKorvel() {
    auto document = std::make_unique<TPDFDocument>();
    document->NewBlank();
    if (TPDFDictionary* info = document->InfoDictionary()) {
        TPDFStructure& store = document->Store();
        const std::string date = pdfDateNow();
        info->Put("Producer", store.CreateString(kProducer));
        info->Put("Creator", store.CreateString(kProducer));
        info->Put("CreationDate", store.CreateString(date));
        info->Put("ModDate", store.CreateString(date));
    }
    AddAndSelect(std::move(document));
    SelectPage(1);
}

TKorvel::~TKorvel() = default;

TKorvel::TEntry::TEntry() : Text(std::make_unique<TPDFPageText>()) {}
TKorvel::TEntry::~TEntry() = default;

int TKorvel::AddAndSelect(std::unique_ptr<TPDFDocument> document) {
    auto entry = std::make_unique<TEntry>();
    entry->ID = FNextID++;
    entry->Document = std::move(document);
    const std::int32_t id = entry->ID;
    FDocuments.push_back(std::move(entry));
    return SelectDocument(id);
}

TKorvel::TEntry* TKorvel::FindEntry(std::int32_t id) {
    for (const auto& entry : FDocuments)
        if (entry->ID == id)
            return entry.get();
    return nullptr;
}

int TKorvel::LoadDocument(const std::function<bool(TPDFDocument&)>& load) {
    FLastError = 0;
    FMappedTotal = FUnmappedTotal = 0;
    try {
        auto document = std::make_unique<TPDFDocument>();
        document->SetLenient(FLenient);
        if (!load(*document))
            return 0;
        return AddAndSelect(std::move(document));
    } catch (...) {
        // Loading reports failure as a result (the registry stays as it was); running out of
        // memory is no failure of the file and reaches the caller.
        RethrowExhaustion();
        return 0;
    }
}

int TKorvel::LoadFromFile(const std::string& fileName) {
    std::error_code error;
    if (!std::filesystem::exists(fileName, error) || error)
        return 0;
    return LoadDocument([&](TPDFDocument& document) { return document.LoadFromFile(fileName); });
}

int TKorvel::LoadFromStream(std::istream& stream) {
    return LoadDocument([&](TPDFDocument& document) { return document.LoadFromStream(stream); });
}

int TKorvel::LoadFromBytes(std::string bytes) {
    return LoadDocument(
        [&](TPDFDocument& document) { return document.LoadFromBytes(std::move(bytes)); });
}

std::int32_t TKorvel::SelectedDocument() const {
    return FDocuments[FSelected]->ID;
}

int TKorvel::SelectDocument(std::int32_t id) {
    for (std::size_t i = 0; i < FDocuments.size(); ++i)
        if (FDocuments[i]->ID == id) {
            FSelected = i;
            return 1;
        }
    return 0;
}

int TKorvel::RemoveDocument(std::int32_t id) {
    std::size_t index = 0;
    while (index < FDocuments.size() && FDocuments[index]->ID != id)
        ++index;
    if (index == FDocuments.size() || FDocuments.size() == 1)
        return 0;
    if (index == FSelected)
        FSelected = index > 0 ? index - 1 : 1;
    const std::int32_t selectedID = FDocuments[FSelected]->ID;
    FDocuments.erase(FDocuments.begin() + static_cast<std::ptrdiff_t>(index));
    SelectDocument(selectedID);
    return 1;
}

int TKorvel::Reconstructed() {
    return SelectedDocumentObject().Reconstructed() ? 1 : 0;
}

int TKorvel::Encrypted() {
    return SelectedDocumentObject().EncryptionKind();
}

int TKorvel::SecurityInfo(int item) {
    FLastError = 0;
    TPDFDocument& document = SelectedDocumentObject();
    const int kind = document.EncryptionKind();
    if (kind == 2)
        return 9;
    if (kind == 0) {
        static constexpr int kPlain[11] = {0, 2, 2, 4, 6, 6, 6, 6, 6, 6, 11};
        return item >= 0 && item <= 10 ? kPlain[item] : 11;
    }

    TPDFSecurityHandler& security = document.Security();
    const int keyBits = security.KeyLength();
    const std::int32_t p = security.Permissions();
    auto has = [p](std::int32_t bit) { return (p & bit) != 0; };
    auto allowed = [](bool yes) { return yes ? 6 : 5; };
    switch (item) {
    case 0:
        return 1;
    case 1:
        return security.CheckUserPassword("") ? 2 : 3;
    case 2:
        if (security.CheckOwnerPassword(""))
            return 2;
        if (security.PasswordApplied() && security.CheckOwnerPassword(security.AppliedPassword()))
            return 2;
        return 3;
    case 3:
        if (!has(4))
            return 5;
        return keyBits == 40 || has(2048) ? 4 : 10;
    case 4:
        return allowed(has(8));
    case 5:
        return allowed(has(16));
    case 6:
        return allowed(has(32));
    // AES-256 keys count as 128 bits here; item 10 tells them apart (12).
    case 7:
        return allowed(keyBits >= 128 && has(256));
    case 8:
        return allowed(keyBits >= 128 && has(512));
    case 9:
        return allowed(keyBits >= 128 && has(1024));
    case 10:
        return keyBits == 256 ? 12 : keyBits == 128 ? 8 : keyBits == 40 ? 7 : 11;
    default:
        return 11;
    }
}

int TKorvel::SetPassword(const std::string& password) {
    TPDFDocument& document = SelectedDocumentObject();
    const int kind = document.EncryptionKind();
    if (kind == 0)
        return 3;
    if (kind == 2)
        return 4;

    TPDFSecurityHandler& security = document.Security();
    int result = 0;
    if (security.CheckUserPassword(password))
        result = security.CheckOwnerPassword(password) ? 5 : 1;
    else if (security.CheckOwnerPassword(password))
        result = 2;
    if (result == 0)
        return 0; // the applied password and the key stay as they were

    const bool hadKey = security.PasswordApplied();
    const std::string oldKey = security.FileKey();
    security.ApplyPassword(password);
    // Objects already read out of object streams were decrypted (or not) with the key of that
    // time; with another key they must be read again, so the document loads afresh in place
    // (same object, same ID) and starts again at page 1.
    const bool keyChanged = !hadKey || oldKey != security.FileKey();
    // Font records loaded so far read their streams with the key of that time.
    if (keyChanged)
        SelectedEntry().Text->Reset();
    if (document.ReadCompressedObjects() && keyChanged)
        document.Reload(password);
    return result;
}

int TKorvel::PageCount() {
    return SelectedDocumentObject().PageTree().PageCount();
}

std::int64_t TKorvel::LocatablePageBound() {
    TPDFDocument& document = SelectedDocumentObject();
    TPDFPageTree& tree = document.PageTree();
    const std::int64_t bound = korvel::LocatablePageBound(tree.RootNode(), &document);
    // The walk let the selected page's objects go with the pages it read: read it again.
    document.ReleasePageObjects();
    const TPDFDocument::TPageScope scope(document);
    if (tree.CurrentPage())
        tree.SelectPage(tree.CurrentIndex());
    return bound;
}

int TKorvel::SelectPage(int pageNumber) {
    TPDFDocument& document = SelectedDocumentObject();
    TPDFPageTree& tree = document.PageTree();
    // What was read for the page selected before goes: a pass over every page of a long
    // document keeps the objects of one page at a time.
    document.ReleasePageObjects();
    TPDFDocument::TPageScope scope(document);
    if (document.EncryptionKind() == 1)
        tree.ReportLocatedPage();
    tree.SelectPage(pageNumber);
    // A failed selection keeps the last good number; no current page means no success either
    // (page 0 of a document without any selectable page).
    return tree.CurrentPage() && tree.CurrentIndex() == pageNumber ? 1 : 0;
}

std::string TKorvel::GetPageText(int option) {
    FLastError = 0;
    if (option < 0 || option > 4)
        return {};
    TEntry& entry = SelectedEntry();
    TPDFDocument& document = *entry.Document;
    TPDFDocument::TPageScope scope(document);
    if (option < 3)
        return entry.Text->RawText(document.PageTree(), option, FTextEncoding);
    // Positioned records count from the document's origin in its units.
    const TPositionedTextSettings settings{entry.Origin, entry.UnitScale, PageWidth(), PageHeight(),
                                           option == 4};
    return entry.Text->PositionedText(document.PageTree(), settings, FTextEncoding);
}

std::vector<TPageRecord> TKorvel::GetPageRecords() {
    FLastError = 0;
    TEntry& entry = SelectedEntry();
    TPDFDocument& document = *entry.Document;
    TPDFDocument::TPageScope scope(document);
    const TPositionedTextSettings settings{entry.Origin, entry.UnitScale, PageWidth(), PageHeight(),
                                           false};
    std::vector<TPageRecord> records;
    for (TPDFTextRecord& record :
         entry.Text->PositionedRecords(document.PageTree(), settings, FTextEncoding))
        records.push_back(TPageRecord{record.X, record.Y, std::move(record.Text), record.Broken});
    return records;
}

std::vector<TPageWord> TKorvel::GetPageWords() {
    FLastError = 0;
    TEntry& entry = SelectedEntry();
    TPDFDocument& document = *entry.Document;
    TPDFDocument::TPageScope scope(document);
    const TReadingLayout layout = entry.Text->ReadingLayout(document.PageTree());
    FUnmappedGlyphs = layout.UnmappedGlyphs;
    FUnmappedTotal += layout.UnmappedGlyphs;
    FMappedTotal += layout.MappedGlyphs;
    std::vector<TPageWord> words;
    words.reserve(layout.Words.size());
    const double scale = entry.UnitScale;
    for (const TReadingWord& word : layout.Words)
        words.push_back(
            TPageWord{FTextEncoding == TTextEncoding::Utf8 ? word.Text : Utf8ToCp1252(word.Text),
                      word.X0 * scale, word.Top * scale, word.X1 * scale, word.Bottom * scale,
                      word.Size * scale, word.Block, word.Line, word.Word});
    return words;
}

std::string TKorvel::GetReadingText() {
    FLastError = 0;
    TEntry& entry = SelectedEntry();
    TPDFDocument& document = *entry.Document;
    TPDFDocument::TPageScope scope(document);
    const TReadingLayout layout = entry.Text->ReadingLayout(document.PageTree());
    FUnmappedGlyphs = layout.UnmappedGlyphs;
    FUnmappedTotal += layout.UnmappedGlyphs;
    FMappedTotal += layout.MappedGlyphs;
    const std::string text = TPDFReadingOrder::Text(layout);
    std::string lines;
    lines.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i + 1 < text.size(); ++i) { // no line end after the last line
        if (text[i] == '\n')
            lines += '\r';
        lines += text[i];
    }
    return FTextEncoding == TTextEncoding::Utf8 ? lines : Utf8ToCp1252(lines);
}

double TKorvel::PageWidth() {
    TEntry& entry = SelectedEntry();
    TPDFDocument::TPageScope scope(*entry.Document);
    return entry.Document->PageTree().PageWidth() * entry.UnitScale;
}

double TKorvel::PageHeight() {
    TEntry& entry = SelectedEntry();
    TPDFDocument::TPageScope scope(*entry.Document);
    return entry.Document->PageTree().PageHeight() * entry.UnitScale;
}

namespace {

// The value of the first dictionary up the `Parent` chain that has the key; a chain longer than
// any real tree (or one that comes back to itself) ends in nothing.
TPDFObject* inheritedEntry(TPDFDictionary* node, std::string_view key) {
    for (int depth = 0; node && depth < kMaxNesting; ++depth) {
        if (node->IndexOfKey(key) >= 0)
            return node->Get(key);
        node = AsDictionary(node->Get("Parent"));
    }
    return nullptr;
}

// Width and height of a box of exactly four numbers; nullopt for anything else.
std::optional<std::pair<double, double>> boxSize(TPDFObject* value) {
    const TPDFArray* box = AsArray(value);
    if (!box || box->Count() != 4)
        return std::nullopt;
    double number[4];
    for (int i = 0; i < 4; ++i) {
        TPDFObject* item = box->Item(i);
        if (const auto* ref = Cast<TPDFIndRef>(item))
            item = ref->Resolve();
        if (!Cast<TPDFNumeric>(item))
            return std::nullopt;
        number[i] = AsNumber(item);
    }
    return std::make_pair(std::fabs(number[2] - number[0]), std::fabs(number[3] - number[1]));
}

} // namespace

std::pair<double, double> TKorvel::PageViewSize() {
    TEntry& entry = SelectedEntry();
    TPDFDocument::TPageScope scope(*entry.Document);
    TPDFDictionary* page = entry.Document->PageTree().CurrentPage();
    if (!page)
        return {0, 0};
    std::optional<std::pair<double, double>> size = boxSize(inheritedEntry(page, "CropBox"));
    if (!size)
        size = boxSize(inheritedEntry(page, "MediaBox"));
    auto [width, height] = size.value_or(std::make_pair(612.0, 792.0));
    const int rotation = PageRotation();
    if (rotation == 90 || rotation == 270)
        std::swap(width, height);
    return {width * entry.UnitScale, height * entry.UnitScale};
}

int TKorvel::PageRotation() {
    TEntry& entry = SelectedEntry();
    TPDFDocument::TPageScope scope(*entry.Document);
    const TPDFObject* value = inheritedEntry(entry.Document->PageTree().CurrentPage(), "Rotate");
    const double rotate = AsNumber(value, 0);
    if (!std::isfinite(rotate) || std::fabs(rotate) >= 1e9)
        return 0;
    const int turns = static_cast<int>(std::fmod(std::round(rotate / 90), 4));
    return (turns + 4) % 4 * 90;
}

std::optional<std::string> TKorvel::InfoEntry(const std::string& key) {
    TPDFDocument& document = SelectedDocumentObject();
    TPDFDictionary* trailer = document.Trailer();
    TPDFDictionary* info = trailer ? AsDictionary(trailer->Get("Info")) : nullptr;
    if (!info || info->IndexOfKey(key) < 0)
        return std::nullopt;
    const TPDFObject* value = info->Get(key);
    if (!value || (value->Class() != TPDFClass::String && value->Class() != TPDFClass::Name))
        return std::nullopt;
    return info->GetText(key);
}

void TKorvel::SetMeasurementUnits(int units) {
    double scale = 1.0;
    if (units == 1)
        scale = 25.4 / 72;
    else if (units == 2)
        scale = 1.0 / 72;
    SelectedEntry().UnitScale = scale;
}

void TKorvel::SetOrigin(int origin) {
    SelectedEntry().Origin = origin >= 0 && origin <= 3 ? origin : 0;
}

int TKorvel::Origin() const {
    return SelectedEntry().Origin;
}

} // namespace korvel
