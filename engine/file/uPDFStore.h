#pragma once
// The store of PDF values (TPDFStructure): it makes and owns every value, interns names, parses
// object syntax into values (the scanner is uPDFParser's), and resolves references and
// registers new indirect objects through the callbacks of the document it serves. Freeing the
// store frees all it made.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "file/uPDFValues.h"

namespace korvel {

class TPDFStructure {
public:
    using ResolveFn = std::function<TPDFObject*(const TPDFIndRef*, std::int32_t, std::int32_t)>;
    using NewIndirectFn = std::function<std::pair<std::int32_t, std::int32_t>(TPDFObject*)>;

    TPDFStructure();
    ~TPDFStructure();
    TPDFStructure(const TPDFStructure&) = delete;
    TPDFStructure& operator=(const TPDFStructure&) = delete;

    // Frees every owned value; callbacks stay.
    void Reset();

    // Scans the first object of the text into this store; nullptr for none.
    TPDFObject* Parse(std::string_view text);
    // As Parse; *endPos receives the 0-based position where scanning stopped.
    TPDFObject* Parse(std::string_view text, std::size_t* endPos);

    TPDFNull* CreateNull();
    TPDFBoolean* CreateBoolean(bool value);
    TPDFNumeric* CreateNumber(double value);
    TPDFString* CreateString(std::string value, bool isHex = false);
    TPDFName* CreateName(std::string value);
    // The name the scanner makes: one live name per value, shared by every container that
    // holds it (names read from files are never renamed on the reading road), so that the keys
    // repeated in every dictionary of a long document cost one value each.
    TPDFName* InternName(std::string value);
    TPDFArray* CreateArray();
    TPDFArray* CreateArray(const std::vector<TPDFObject*>& items);
    TPDFArray* CreateArray(const std::vector<std::int32_t>& numbers);
    TPDFArray* CreateArray(const std::vector<double>& numbers);
    TPDFDictionary* CreateDictionary();
    TPDFStream* CreateStream(std::string data);
    // A stream over a dictionary of this store (which it takes as its own); `Length` is set.
    TPDFStream* CreateStream(TPDFDictionary* dictionary, std::string data);
    // The same over bytes that outlive the store (a loaded file's), read in place.
    TPDFStream* CreateStreamView(TPDFDictionary* dictionary, std::string_view data);
    TPDFIndRef* CreateRef(std::int32_t objNum, std::int32_t genNum);

    // A name on the common-name list reuses the first owned name of that value; any other text
    // makes a new name. Either way the result has IsCommon set.
    TPDFName* CommonName(std::string_view text);
    static bool IsCommonNameText(std::string_view text);
    // The first owned name with this value, in registration order, or nullptr.
    TPDFName* FindName(std::string_view text) const;

    void Register(TPDFObject* value); // takes ownership
    // Frees one owned value (see the .cpp for the keep rules without force). The value leaves
    // the store's list at once; its memory is reclaimed by Reset, so outside pointers to it
    // never dangle.
    void Release(TPDFObject* value, bool force = false);

    int ObjectCount() const { return static_cast<int>(FLiveCount); }
    TPDFObject* ObjectAt(int index) const;

    ResolveFn OnResolve;
    NewIndirectFn OnNewIndirect;
    bool MultiLine = true;
    std::string NumberFormat = "0.0000";
    int NumberDecimals = 4;

private:
    friend class TPDFObject;
    friend class TPDFName;
    friend class TPDFArray;
    friend class TPDFDictionary;
    friend class TPDFStream;
    template <class T, class... Args> T* Make(Args&&... args);
    void Link(TPDFObject* value);
    void Unlink(TPDFObject* value);
    void AddNameEntry(TPDFName* name) const;
    void NameValueChanged(TPDFName* name, const std::string& oldValue);
    void Compact() const;

    void* AllocateValue(std::size_t size, std::size_t align);
    void FreeValues();

    // Every value ever made (released ones included, until Reset): those the store made live
    // in its blocks, those handed to Register are owned one by one.
    std::vector<std::unique_ptr<std::byte[]>> FBlocks;
    std::size_t FBlockUsed = 0;
    std::size_t FBlockSize = 0;
    std::deque<TPDFObject*> FArenaValues; // chunks: growing never copies the whole list
    std::vector<std::unique_ptr<TPDFObject>> FOwned;
    // Live values in registration order; released ones leave a nullptr until compaction.
    mutable std::deque<TPDFObject*> FObjects;
    mutable bool FHasHoles = false;
    std::size_t FLiveCount = 0;
    // Names by value in registration order, for CommonName and FindName. Released or renamed
    // names leave stale entries behind that lookups drop from the front, so releasing stays
    // constant time however many names share a value.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>{}(text);
        }
    };
    struct NameEntry {
        TPDFName* Name;
        std::uint64_t Order;
        std::uint64_t Tag;
    };
    struct NameList {
        std::vector<NameEntry> Entries;
        std::size_t Head = 0; // entries before it are known stale
    };
    mutable std::unordered_map<std::string, NameList, TextHash, std::equal_to<>> FNamesByValue;
    mutable bool FNameIndexBuilt = false;
    std::unordered_map<std::string, TPDFName*, TextHash, std::equal_to<>> FInterned;
    // The first live name of each common-name value (exact while known).
    mutable std::array<TPDFName*, 30> FCommonFirst{};
    mutable std::array<bool, 30> FCommonKnown{};
    std::uint64_t FNextOrder = 0;
    mutable std::uint64_t FNextTag = 0;

public:
    // Changes whenever any name's value changes: dictionaries rebuild their key index then.
    std::uint64_t NameEpoch = 0;
};

} // namespace korvel
