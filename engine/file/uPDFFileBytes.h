#pragma once
// The bytes of a loaded file. A regular file on disk is mapped read-only instead of read into
// memory: its pages cost resident memory only once touched, and ReleasePages hands back the
// ones touched so far (they are read again from the system's file cache when next touched, so
// every view stays valid). A pass over every page of a long file then keeps only the pages of
// the file it read lately. Bytes from a pipe or from the caller are held in memory.
//
// The system maps a cached file in blocks of up to 2 MiB (large folios): touching one byte can
// make a whole block resident, and giving blocks back costs a remapping when they are touched
// again. Readers note what they read (NoteRead); ReleaseIfDue gives the pages back only once the
// reads since the last release spread beyond kResidentRegions such regions, so that a pass over
// many small pages releases rarely and a pass over large ones keeps a few MiB of the file.
//
// A mapped file must not shrink while it is loaded: reading a page cut off by another program
// stops the process (SIGBUS), as it would for any program that maps its input.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

class TPDFFileBytes {
public:
    TPDFFileBytes() = default;
    ~TPDFFileBytes();
    TPDFFileBytes(TPDFFileBytes&& other) noexcept;
    TPDFFileBytes& operator=(TPDFFileBytes&& other) noexcept;
    TPDFFileBytes(const TPDFFileBytes&) = delete;
    TPDFFileBytes& operator=(const TPDFFileBytes&) = delete;

    // Maps a regular file, or reads any other kind (a pipe) to its end. False when the file
    // cannot be opened or read, or holds maxSize bytes or more; the bytes are then empty.
    bool Open(const std::string& path, std::int64_t maxSize);
    void Assign(std::string bytes);
    void Clear();

    std::string_view View() const { return FMap ? std::string_view(FMap, FMapSize) : FOwned; }
    std::size_t size() const { return FMap ? FMapSize : FOwned.size(); }
    bool empty() const { return size() == 0; }
    bool Mapped() const { return FMap != nullptr; }
    // Gives back the resident pages of a mapped file (nothing for bytes held in memory).
    void ReleasePages();
    // Notes bytes about to be read; nothing for bytes held in memory.
    void NoteRead(std::int64_t offset, std::int64_t length);
    // ReleasePages once the reads noted since the last release span more than
    // kResidentRegions regions; true when it released.
    bool ReleaseIfDue();

    static constexpr int kRegionShift = 21; // 2 MiB
    static constexpr int kResidentRegions = 1;

private:
    std::string FOwned;
    const char* FMap = nullptr;
    std::size_t FMapSize = 0;
    // Regions read since the last release (the first kResidentRegions of them), and whether
    // more were read.
    std::int64_t FRegions[kResidentRegions] = {};
    int FRegionCount = 0;
    bool FReleaseDue = false;
};

} // namespace korvel
