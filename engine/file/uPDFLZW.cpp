#include "file/uPDFLZW.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <optional>

namespace korvel {

namespace {

constexpr int kClearCode = 256;
constexpr int kEndCode = 257;
constexpr int kFirstFreeCode = 258;
constexpr int kLastCode = 4095;
constexpr int kMaxWidth = 12;

// An entry is always an earlier entry plus one byte, and in a well-formed stream that byte
// follows the earlier entry in the output. So an entry is an (offset, length) run of the output;
// only entries built on an undefined code (hostile streams) are copied, into a side buffer that
// shares the decode bound. The table stays 4096 small records, and overwriting entry 4095 again
// and again, or reading a stale entry after a clear, costs no copying.
struct TEntry {
    bool InSide = false;
    std::uint64_t Offset = 0;
    std::uint64_t Length = 0;
};

class TPDFLZWDecompressor {
public:
    TPDFLZWDecompressor(std::string_view data, bool earlyChange, std::size_t limit)
        : FData(data), FEarlyChange(earlyChange), FLimit(limit) {
        for (int i = 0; i < 256; ++i) {
            FSide.push_back(static_cast<char>(i));
            FTable[static_cast<std::size_t>(i)] = TEntry{true, static_cast<std::uint64_t>(i), 1};
        }
        ResetWidth();
    }

    std::string Run() {
        int code = ReadCode();
        if (code == kClearCode)
            code = ReadCode();
        if (code == kEndCode)
            return std::move(FOut);
        if (!Emit(FTable[static_cast<std::size_t>(code)]))
            return std::move(FOut);
        Emitted(FTable[static_cast<std::size_t>(code)], 0);
        int previous = code;
        for (;;) {
            code = ReadCode();
            if (code == kEndCode)
                break;
            if (code == kClearCode) {
                ResetWidth(); // the previous code stays
                FNextCode = kEndCode;
                continue;
            }
            const TEntry prior = FTable[static_cast<std::size_t>(previous)];
            if (code < FNextCode) {
                const TEntry entry = FTable[static_cast<std::size_t>(code)];
                const std::uint64_t at = FOut.size();
                if (!Emit(entry))
                    break;
                if (entry.Length > 0) {
                    const std::optional<TEntry> made = Extend(prior, at);
                    if (!made)
                        break;
                    Store(*made);
                }
                Emitted(entry, at);
            } else {
                // The entry being defined by this very code: the prior entry plus its own first
                // byte. With no prior bytes there is no first byte; the entry stays empty.
                TEntry made;
                const std::uint64_t at = FOut.size();
                if (prior.Length > 0) {
                    if (!Emit(prior) || !Emit(TEntry{false, at, 1}))
                        break;
                    made = TEntry{false, at, prior.Length + 1};
                }
                Store(made);
                Emitted(made, at);
            }
            Advance();
            previous = code;
        }
        return std::move(FOut);
    }

private:
    void ResetWidth() {
        FWidth = 9;
        FGrowAt = FEarlyChange ? 510 : 511;
        FNextCode = kFirstFreeCode;
    }

    void Advance() {
        if (FNextCode == FGrowAt && FWidth < kMaxWidth) {
            ++FWidth;
            FGrowAt = (1 << FWidth) - (FEarlyChange ? 2 : 1);
        }
        if (FNextCode < kLastCode)
            ++FNextCode;
    }

    // The input reads as if followed by three zero bytes; a code starting beyond the first of
    // them is the end of the data.
    int ReadCode() {
        const std::uint64_t totalBits = (static_cast<std::uint64_t>(FData.size()) + 1) * 8;
        if (FBitPos >= totalBits)
            return kEndCode;
        // A code of at most 12 bits starting at bit offset 0..7 lies within three bytes.
        const std::uint64_t first = FBitPos >> 3;
        std::uint32_t window = 0;
        for (std::uint64_t k = first; k < first + 3; ++k)
            window = (window << 8) | (k < FData.size() ? static_cast<unsigned char>(FData[k]) : 0u);
        const auto shift = static_cast<int>(24 - (FBitPos & 7)) - FWidth;
        FBitPos += static_cast<std::uint64_t>(FWidth);
        return static_cast<int>((window >> shift) & ((1u << FWidth) - 1));
    }

    const char* Bytes(const TEntry& e) const { return e.InSide ? FSide.data() : FOut.data(); }

    // Appends an entry's bytes to the output; false once the bound is reached (the output then
    // holds the entry's beginning up to the bound).
    bool Emit(const TEntry& e) {
        const std::uint64_t room = FLimit - FOut.size();
        const std::uint64_t take = std::min(e.Length, room);
        if (take > 0) {
            const std::size_t start = FOut.size();
            // Resize first and copy by position: the source may be the output itself.
            FOut.resize(start + static_cast<std::size_t>(take));
            const char* src = Bytes(e) + e.Offset;
            std::copy(src, src + take, FOut.data() + start);
        }
        return take == e.Length && FOut.size() < FLimit;
    }

    // Remembers where the string of the code just decoded was written (entries are runs of
    // append-only buffers, so equal entries stand for equal bytes).
    void Emitted(const TEntry& e, std::uint64_t at) {
        FLast = e;
        FLastAt = at;
    }

    // The entry `prior` plus the byte written at output position `at`.
    // Nothing when the side buffer would pass the bound.
    std::optional<TEntry> Extend(const TEntry& prior, std::uint64_t at) {
        if (prior.Length == 0)
            return TEntry{false, at, 1};
        if (!prior.InSide && prior.Offset + prior.Length == at)
            return TEntry{false, prior.Offset, prior.Length + 1};
        // The usual case: the prior code's string was written right before `at`, wherever the
        // entry itself was first stored.
        if (prior.InSide == FLast.InSide && prior.Offset == FLast.Offset &&
            prior.Length == FLast.Length && FLastAt + prior.Length == at)
            return TEntry{false, FLastAt, prior.Length + 1};
        // Hostile streams only: copy into the side buffer, which shares the output's bound.
        if (FSide.size() + prior.Length + 1 > FLimit + 256)
            return std::nullopt;
        const std::uint64_t offset = FSide.size();
        const std::size_t old = FSide.size();
        FSide.resize(old + static_cast<std::size_t>(prior.Length) + 1);
        const char* src = Bytes(prior) + prior.Offset;
        std::copy(src, src + prior.Length, FSide.data() + old);
        FSide[old + static_cast<std::size_t>(prior.Length)] = FOut[static_cast<std::size_t>(at)];
        return TEntry{true, offset, prior.Length + 1};
    }

    void Store(const TEntry& e) { FTable[static_cast<std::size_t>(FNextCode)] = e; }

    std::string_view FData;
    bool FEarlyChange;
    std::uint64_t FLimit;
    std::uint64_t FBitPos = 0;
    int FWidth = 9;
    int FGrowAt = 510;
    int FNextCode = kFirstFreeCode;
    std::array<TEntry, kLastCode + 1> FTable{};
    std::string FSide;
    std::string FOut;
    TEntry FLast;
    std::uint64_t FLastAt = 0;
};

} // namespace

std::string LZWDecode(std::string_view data, bool earlyChange, std::size_t limit) {
    return TPDFLZWDecompressor(data, earlyChange, limit).Run();
}

} // namespace korvel
