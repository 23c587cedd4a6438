#pragma once
// The document's cache of parsed embedded font programs, so that the pages of one document
// parse each FontFile, FontFile2 and FontFile3 stream once.
//
// Ownership: the cache shares its programs with the font records holding them; a program
// dropped from the cache lives on while a record holds it. Thread-safe; never throws.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "file/uPDFStructure.h"
#include "fonts/uBoundedCache.h"
#include "fonts/uPDFFontProgram.h"

namespace korvel {

// Embedded font programs parsed once per document: Type 1 (FontFile), CFF (FontFile3) and
// TrueType (FontFile2) programs by the identity of their stream (its object numbers, or its
// address for a stream made in memory) and its data version, so that
// later pages reuse what the first one parsed. A program is stored only while the stream is
// unchanged; a changed stream (decrypted in place, replaced) misses and is parsed afresh.
// The total estimated size is bounded; the least recently used programs go first. Programs
// handed out stay valid as long as someone holds them. Thread-safe.
class TPDFFontProgramCache {
public:
    // Parsed programs of a document rarely take more than a few MB; past this the least
    // recently used ones are dropped, so a file of many large fonts cannot pile them up.
    static constexpr std::uint64_t kDefaultBudget = std::uint64_t{32} << 20;

    enum class TProgramKind : std::uint8_t { Type1, CFF, TrueType };
    struct TKey {
        const TPDFStream* Stream = nullptr;
        std::uint64_t DataVersion = 0;
        std::size_t RawSize = 0;
        std::int32_t ObjNum = 0;
        std::int32_t GenNum = 0;
        TProgramKind Kind = TProgramKind::Type1;
        // Type 1 only: Length1..3 as read from the stream dictionary.
        std::array<std::int64_t, 3> Lengths{};
        friend bool operator==(const TKey&, const TKey&) = default;
    };
    // The key of a stream read as a program of this kind.
    static TKey KeyOf(const TPDFStream* stream, TProgramKind kind,
                      std::array<std::int64_t, 3> lengths = {});

    explicit TPDFFontProgramCache(std::uint64_t budget = kDefaultBudget) : FCache(budget) {}

    // nullopt on a miss; a stored nullptr is a stream that yields no program (an empty
    // FontFile2).
    std::optional<std::shared_ptr<const TPDFFontRasterizer>> Find(const TKey& key) {
        return FCache.Find(key);
    }
    // Stores a program with its estimated size in bytes; a program larger than the whole
    // budget is not stored.
    void Insert(const TKey& key, std::shared_ptr<const TPDFFontRasterizer> program,
                std::uint64_t size) {
        FCache.Insert(key, std::move(program), size);
    }
    void Clear() { FCache.Clear(); }

    std::size_t Count() const { return FCache.Count(); }
    std::uint64_t Bytes() const { return FCache.Bytes(); }
    std::uint64_t Hits() const { return FCache.Hits(); }
    std::uint64_t Misses() const { return FCache.Misses(); }

private:
    struct TKeyHash {
        std::size_t operator()(const TKey& key) const noexcept;
    };
    TBoundedCache<TKey, std::shared_ptr<const TPDFFontRasterizer>, TKeyHash> FCache;
};

} // namespace korvel
