#pragma once
// TKorvel: the one object through which an application drives the engine. It keeps a registry
// of documents (one blank document from the start), one of them selected, and answers for the
// selected document and its selected page with plain integers, floats and byte strings.

#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

namespace korvel {

class TPDFDocument;

class TKorvel {
public:
    TKorvel();
    ~TKorvel();
    TKorvel(const TKorvel&) = delete;
    TKorvel& operator=(const TKorvel&) = delete;

    int LoadFromFile(const std::string& fileName);
    int LoadFromStream(std::istream& stream);
    // Loads bytes already in memory, as LoadFromStream.
    int LoadFromBytes(std::string bytes);
    std::int32_t SelectedDocument() const;
    int SelectDocument(std::int32_t id);
    int RemoveDocument(std::int32_t id);

    int Encrypted();
    int SecurityInfo(int item);
    int SetPassword(const std::string& password);

    int PageCount();
    int SelectPage(int pageNumber);
    double PageWidth();
    double PageHeight();

    int LastErrorCode() const { return FLastError; }
    // 0 points, 1 millimetres, 2 inches; anything else 0.
    void SetMeasurementUnits(int units);
    // 0 to 3; anything else 0.
    void SetOrigin(int origin);

    // The selected document, for the engine's own text road.
    TPDFDocument& SelectedDocumentObject() const { return *FDocuments[FSelected]->Document; }

private:
    struct TEntry {
        std::int32_t ID;
        std::unique_ptr<TPDFDocument> Document;
    };
    int AddAndSelect(std::unique_ptr<TPDFDocument> document);
    TEntry* FindEntry(std::int32_t id);

    std::vector<std::unique_ptr<TEntry>> FDocuments; // never empty
    std::size_t FSelected = 0;
    std::int32_t FLastError = 0;
    std::int32_t FNextID = 1; // IDs are never reused while the process lives
};

} // namespace korvel
