#pragma once
// A cache of values with an estimated size each, bounded in total: the least recently used go
// first. Thread-safe; never throws but for running out of memory.

#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace korvel {

template <class TKey, class TValue, class THash>
class TBoundedCache {
public:
    explicit TBoundedCache(std::uint64_t budget) : FBudget(budget) {}

    // nullopt on a miss; a hit becomes the most recently used.
    std::optional<TValue> Find(const TKey& key) {
        const std::lock_guard<std::mutex> guard(FLock);
        const auto it = FIndex.find(key);
        if (it == FIndex.end()) {
            ++FMisses;
            return std::nullopt;
        }
        ++FHits;
        FSlots.splice(FSlots.begin(), FSlots, it->second);
        return it->second->Value;
    }

    // Stores a value (replacing one of the same key); one larger than the whole budget is not
    // stored.
    void Insert(const TKey& key, TValue value, std::uint64_t size) {
        if (size > FBudget)
            return;
        const std::lock_guard<std::mutex> guard(FLock);
        if (const auto it = FIndex.find(key); it != FIndex.end()) {
            FBytes -= it->second->Size;
            FSlots.erase(it->second);
            FIndex.erase(it);
        }
        while (!FSlots.empty() && FBytes + size > FBudget) {
            FBytes -= FSlots.back().Size;
            FIndex.erase(FSlots.back().Key);
            FSlots.pop_back();
        }
        FSlots.push_front({key, std::move(value), size});
        FIndex.emplace(key, FSlots.begin());
        FBytes += size;
    }

    void Clear() {
        const std::lock_guard<std::mutex> guard(FLock);
        FIndex.clear();
        FSlots.clear();
        FBytes = 0;
    }

    std::size_t Count() const {
        const std::lock_guard<std::mutex> guard(FLock);
        return FSlots.size();
    }
    std::uint64_t Bytes() const {
        const std::lock_guard<std::mutex> guard(FLock);
        return FBytes;
    }
    std::uint64_t Hits() const {
        const std::lock_guard<std::mutex> guard(FLock);
        return FHits;
    }
    std::uint64_t Misses() const {
        const std::lock_guard<std::mutex> guard(FLock);
        return FMisses;
    }

private:
    struct TSlot {
        TKey Key;
        TValue Value;
        std::uint64_t Size = 0;
    };
    mutable std::mutex FLock;
    std::uint64_t FBudget;
    std::uint64_t FBytes = 0;
    std::uint64_t FHits = 0;
    std::uint64_t FMisses = 0;
    std::list<TSlot> FSlots; // most recently used first
    std::unordered_map<TKey, typename std::list<TSlot>::iterator, THash> FIndex;
};

} // namespace korvel
