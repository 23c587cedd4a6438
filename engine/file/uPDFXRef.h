#pragma once
// Finding and reading a file's cross-reference information: classic tables with their trailers,
// cross-reference streams, hybrid files (`XRefStm`) and `Prev` chains. The reader keeps no table:
// every section offset, entry and trailer goes to its owner through the callbacks, newest
// section first, in file-reading order.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace korvel {

// A read-only stream over the bytes of the whole file (not copied; the owner keeps them alive).
class TXRStringStream {
public:
    explicit TXRStringStream(std::string_view data) : FData(data) {}
    std::int64_t Size() const { return static_cast<std::int64_t>(FData.size()); }
    std::int64_t Position() const { return FPosition; }
    // Clamped to 0..Size().
    void Seek(std::int64_t position);
    // Copies at most the bytes that remain and advances.
    std::string Read(std::int64_t count);
    std::string_view Data() const { return FData; }

private:
    std::string_view FData;
    std::int64_t FPosition = 0;
};

class TPDFXRefReader {
public:
    // type: 'n' in use, 'c' compressed, 'f' free, ' ' a stream entry of unknown type.
    using EntryFn = std::function<void(std::int32_t objNum, std::int32_t value2, char type,
                                       std::int32_t value3)>;
    using TrailerFn = std::function<void(const std::string& trailerText)>;
    using SectionFn = std::function<void(std::int32_t offset)>;

    explicit TPDFXRefReader(TXRStringStream& stream) : FStream(stream) {}

    // Offset of the newest section; 0 when none is found.
    std::int32_t FindStartXRef();
    // Reads the section at the offset and, through `Prev` (and `XRefStm`), all older ones.
    // False when any section of the chain fails or the chain comes back to itself.
    bool ReadSection(std::int64_t offset);
    // Bytes from the offset clipped to the end of the file; a negative offset counts as 0.
    std::string ReadAt(std::int64_t offset, std::int64_t length);

    EntryFn OnEntry;
    TrailerFn OnTrailer;
    SectionFn OnSection;

private:
    enum class TSectionState { Reading, Succeeded, Failed };
    // What one section says about the sections behind it.
    struct TSectionLinks {
        bool Ok = false;
        bool HasXRefStm = false;
        std::int64_t XRefStm = 0;
        bool HasPrev = false;
        std::int64_t Prev = 0;
    };
    // Finds the keyword near the offset: the position after `xref` (table) or ` obj` (stream).
    bool LocateSection(std::int64_t offset, bool& isStream, std::int64_t& position);
    TSectionLinks ReadTable(std::int64_t position);
    TSectionLinks ReadStream(std::int64_t position);

    TXRStringStream& FStream;
    // Sections read during this reader's life, by requested offset and by keyword position:
    // a section reached twice (XRefStm and Prev to the same older section, or two offsets a
    // few bytes apart) answers its recorded result instead of being read again.
    std::unordered_map<std::int64_t, TSectionState> FByOffset;
    std::unordered_map<std::int64_t, TSectionState> FByPosition;
};

} // namespace korvel
