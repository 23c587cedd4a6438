#include "file/uPDFStore.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <unordered_set>

#include "file/uPDFErrors.h"
#include "file/uPDFExtra.h"
#include "file/uPDFFilters.h"
#include "file/uPDFStructure.h"

namespace korvel {

namespace {

// Names interned per store by CommonName.
constexpr std::string_view kCommonNames[] = {"MediaBox",
                                             "Length",
                                             "CropBox",
                                             "Type",
                                             "Subtype",
                                             "Name",
                                             "Pages",
                                             "Page",
                                             "Parent",
                                             "Font",
                                             "Contents",
                                             "BaseFont",
                                             "PDF",
                                             "Text",
                                             "ImageB",
                                             "ImageC",
                                             "ImageI",
                                             "Resources",
                                             "ProcSet",
                                             "ExtGState",
                                             "Type1",
                                             "TrueType",
                                             "WinAnsiEncoding",
                                             "Filter",
                                             "FlateDecode",
                                             "Annot",
                                             "URI",
                                             "Goto",
                                             "XYZ",
                                             "oFRT"};
static_assert(std::size(kCommonNames) == 30, "the store keeps one slot per common name");

} // namespace

// ---------------------------------------------------------------------------------------------
// TPDFStructure

TPDFStructure::TPDFStructure() {
    Reset();
}

TPDFStructure::~TPDFStructure() {
    FreeValues();
}

void TPDFStructure::FreeValues() {
    for (TPDFObject* value : FArenaValues)
        value->~TPDFObject();
    FArenaValues.clear();
    FOwned.clear();
    FBlocks.clear();
    FBlockUsed = FBlockSize = 0;
}

void* TPDFStructure::AllocateValue(std::size_t size, std::size_t align) {
    std::size_t at = (FBlockUsed + align - 1) / align * align;
    if (FBlocks.empty() || at + size > FBlockSize) {
        // Blocks grow with the store, so a big document needs few of them and a small scratch
        // store stays small.
        const std::size_t next = std::clamp<std::size_t>(FBlockSize * 2, 4096, 1 << 20);
        // Not zeroed: every value is constructed in place, and a block filled with zeros
        // first would be written twice (and sanitizer builds pay for every byte).
        FBlocks.push_back(std::make_unique_for_overwrite<std::byte[]>(std::max(next, size)));
        FBlockSize = std::max(next, size);
        at = 0;
    }
    FBlockUsed = at + size;
    return FBlocks.back().get() + at;
}

void TPDFStructure::Reset() {
    FObjects.clear();
    FNamesByValue.clear();
    FInterned.clear();
    FNameIndexBuilt = false;
    FCommonFirst.fill(nullptr);
    FCommonKnown.fill(true);
    FreeValues();
    FHasHoles = false;
    FLiveCount = 0;
    MultiLine = true;
    NumberFormat = "0.0000";
    NumberDecimals = 4;
    ++NameEpoch;
}

template <class T, class... Args> T* TPDFStructure::Make(Args&&... args) {
    // Values live in the store's blocks: no allocation of their own, freed all at once.
    T* value = new (AllocateValue(sizeof(T), alignof(T))) T(this, std::forward<Args>(args)...);
    // Values that own nothing need no destructor call: only the others are listed.
    constexpr bool ownsMemory = !std::is_same_v<T, TPDFNull> && !std::is_same_v<T, TPDFBoolean> &&
                                !std::is_same_v<T, TPDFNumeric> && !std::is_same_v<T, TPDFIndRef>;
    if constexpr (ownsMemory)
        FArenaValues.push_back(value);
    static_cast<TPDFObject*>(value)->FOwnedByStore = true;
    Link(value);
    return value;
}

TPDFNull* TPDFStructure::CreateNull() {
    return Make<TPDFNull>();
}
TPDFBoolean* TPDFStructure::CreateBoolean(bool value) {
    return Make<TPDFBoolean>(value);
}
TPDFNumeric* TPDFStructure::CreateNumber(double value) {
    return Make<TPDFNumeric>(value);
}

TPDFString* TPDFStructure::CreateString(std::string value, bool isHex) {
    return Make<TPDFString>(std::move(value), isHex);
}

TPDFName* TPDFStructure::CreateName(std::string value) {
    return Make<TPDFName>(std::move(value));
}

TPDFName* TPDFStructure::InternName(std::string value) {
    auto it = FInterned.find(std::string_view(value));
    if (it != FInterned.end()) {
        TPDFName* name = it->second;
        if (name->IsLive() && name->Value() == it->first)
            return name;
        FInterned.erase(it);
    }
    TPDFName* name = CreateName(value);
    FInterned.emplace(std::move(value), name);
    return name;
}

TPDFArray* TPDFStructure::CreateArray() {
    return Make<TPDFArray>();
}

TPDFArray* TPDFStructure::CreateArray(const std::vector<TPDFObject*>& items) {
    TPDFArray* array = CreateArray();
    for (TPDFObject* item : items)
        array->Add(item);
    return array;
}

TPDFArray* TPDFStructure::CreateArray(const std::vector<std::int32_t>& numbers) {
    TPDFArray* array = CreateArray();
    for (const std::int32_t n : numbers)
        array->Add(CreateNumber(n));
    return array;
}

TPDFArray* TPDFStructure::CreateArray(const std::vector<double>& numbers) {
    TPDFArray* array = CreateArray();
    for (const double n : numbers)
        array->Add(CreateNumber(n));
    return array;
}

TPDFDictionary* TPDFStructure::CreateDictionary() {
    return Make<TPDFDictionary>();
}

TPDFStream* TPDFStructure::CreateStream(std::string data) {
    TPDFStream* stream = Make<TPDFStream>(CreateDictionary(), std::string());
    stream->SetRawData(std::move(data));
    return stream;
}

TPDFStream* TPDFStructure::CreateStream(TPDFDictionary* dictionary, std::string data) {
    if (!dictionary || dictionary->Owner != this)
        return CreateStream(std::move(data));
    TPDFStream* stream = Make<TPDFStream>(std::move(dictionary), std::string());
    stream->SetRawData(std::move(data));
    return stream;
}

TPDFStream* TPDFStructure::CreateStreamView(TPDFDictionary* dictionary, std::string_view data) {
    TPDFStream* stream = CreateStream(dictionary, std::string());
    stream->SetRawView(data);
    return stream;
}

TPDFIndRef* TPDFStructure::CreateRef(std::int32_t objNum, std::int32_t genNum) {
    return Make<TPDFIndRef>(objNum, genNum);
}

namespace {

// Position in the common-name list, or -1.
int commonNameIndex(std::string_view text) {
    static const std::unordered_map<std::string_view, int> index = [] {
        std::unordered_map<std::string_view, int> m;
        for (int i = 0; i < static_cast<int>(std::size(kCommonNames)); ++i)
            m.emplace(kCommonNames[i], i);
        return m;
    }();
    const auto it = index.find(text);
    return it == index.end() ? -1 : it->second;
}

} // namespace

bool TPDFStructure::IsCommonNameText(std::string_view text) {
    return commonNameIndex(text) >= 0;
}

TPDFName* TPDFStructure::CommonName(std::string_view text) {
    TPDFName* name = IsCommonNameText(text) ? FindName(text) : nullptr;
    if (!name)
        name = CreateName(std::string(text));
    name->IsCommon = true;
    return name;
}

TPDFName* TPDFStructure::FindName(std::string_view text) const {
    // Common names are asked for on every Put: their first live name is kept, and found again
    // by one pass over the live list only after it was released or renamed.
    if (const int common = commonNameIndex(text); common >= 0) {
        const auto i = static_cast<std::size_t>(common);
        if (!FCommonKnown[i]) {
            FCommonFirst[i] = nullptr;
            for (TPDFObject* v : FObjects)
                if (v && v->Class() == TPDFClass::Name &&
                    static_cast<TPDFName*>(v)->Value() == text) {
                    FCommonFirst[i] = static_cast<TPDFName*>(v);
                    break;
                }
            FCommonKnown[i] = true;
        }
        return FCommonFirst[i];
    }
    if (!FNameIndexBuilt) {
        // Built on the first search, from the live list (which is in registration order): a
        // store that is only read never pays for it.
        FNameIndexBuilt = true;
        for (TPDFObject* v : FObjects)
            if (v && v->Class() == TPDFClass::Name)
                AddNameEntry(static_cast<TPDFName*>(v));
    }
    const auto it = FNamesByValue.find(text);
    if (it == FNamesByValue.end())
        return nullptr;
    NameList& list = it->second;
    auto stale = [](const NameEntry& e) { return e.Name->FSlot < 0 || e.Name->FTag != e.Tag; };
    while (list.Head < list.Entries.size() && stale(list.Entries[list.Head]))
        ++list.Head;
    if (list.Head > 16 && list.Head * 2 > list.Entries.size()) {
        list.Entries.erase(list.Entries.begin(),
                           list.Entries.begin() + static_cast<std::ptrdiff_t>(list.Head));
        list.Head = 0;
    }
    return list.Head < list.Entries.size() ? list.Entries[list.Head].Name : nullptr;
}

void TPDFStructure::Register(TPDFObject* value) {
    if (!value)
        return;
    if (value->FOwnedByStore) {
        // Already owned: a released value of this store comes back into the list.
        if (value->Owner == this && value->FSlot < 0)
            Link(value);
        return;
    }
    value->Owner = this;
    FOwned.emplace_back(value);
    value->FOwnedByStore = true;
    Link(value);
}

void TPDFStructure::AddNameEntry(TPDFName* name) const {
    if (!FNameIndexBuilt)
        return;
    name->FTag = ++FNextTag;
    NameList& list = FNamesByValue[name->Value()];
    const NameEntry entry{name, name->FOrder, name->FTag};
    if (list.Entries.size() == list.Head || list.Entries.back().Order < entry.Order) {
        list.Entries.push_back(entry);
        return;
    }
    // A renamed older name goes to its registration place.
    const auto at = std::lower_bound(
        list.Entries.begin() + static_cast<std::ptrdiff_t>(list.Head), list.Entries.end(),
        entry.Order, [](const NameEntry& e, std::uint64_t order) { return e.Order < order; });
    list.Entries.insert(at, entry);
}

void TPDFStructure::NameValueChanged(TPDFName* name, const std::string& oldValue) {
    ++NameEpoch;
    if (const int old = commonNameIndex(oldValue);
        old >= 0 && FCommonFirst[static_cast<std::size_t>(old)] == name)
        FCommonKnown[static_cast<std::size_t>(old)] = false;
    if (const int now = commonNameIndex(name->Value()); now >= 0 && name->FSlot >= 0) {
        const auto i = static_cast<std::size_t>(now);
        TPDFName*& first = FCommonFirst[i];
        if (FCommonKnown[i] && (!first || name->FOrder < first->FOrder))
            first = name;
    }
    // The new entry's tag makes the one under the old value stale.
    if (name->Owner == this && name->FSlot >= 0)
        AddNameEntry(name);
}

void TPDFStructure::Link(TPDFObject* value) {
    constexpr auto kMaxPositions =
        static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    if (FObjects.size() >= kMaxPositions) {
        Compact(); // positions stay within 32 bits
        if (FObjects.size() >= kMaxPositions)
            throw std::length_error("too many values in one store");
    }
    value->FSlot = static_cast<std::int32_t>(FObjects.size());
    FObjects.push_back(value);
    ++FLiveCount;
    if (value->Class() == TPDFClass::Name) {
        auto* name = static_cast<TPDFName*>(value);
        name->FOrder = ++FNextOrder;
        AddNameEntry(name);
        if (const int common = commonNameIndex(name->Value()); common >= 0) {
            const auto i = static_cast<std::size_t>(common);
            if (FCommonKnown[i] && !FCommonFirst[i])
                FCommonFirst[i] = name;
        }
    }
    ForEachChild(value, [&](TPDFObject* child) {
        if (child->Owner == this)
            ++child->FHolders;
    });
}

void TPDFStructure::Unlink(TPDFObject* value) {
    ForEachChild(value, [&](TPDFObject* child) {
        if (child->Owner == this)
            --child->FHolders;
    });
    if (value->Class() == TPDFClass::Name) {
        const int common = commonNameIndex(static_cast<TPDFName*>(value)->Value());
        if (common >= 0 && FCommonFirst[static_cast<std::size_t>(common)] == value)
            FCommonKnown[static_cast<std::size_t>(common)] = false;
    }
    const auto slot = static_cast<std::size_t>(value->FSlot);
    FObjects[slot] = nullptr;
    while (!FObjects.empty() && !FObjects.back())
        FObjects.pop_back();
    if (slot < FObjects.size())
        FHasHoles = true;
    value->FSlot = -1;
    --FLiveCount;
}

// Keeps, unless forced, a common name and any value a live container of the store holds
// directly; the holder counts give the answer of a scan over all values in constant time.
void TPDFStructure::Release(TPDFObject* value, bool force) {
    if (!value || value->Owner != this || value->FSlot < 0)
        return;
    if (!force) {
        if (const TPDFName* name = Cast<TPDFName>(value); name && name->IsCommon)
            return;
        if (value->FHolders > 0)
            return;
    }
    Unlink(value);
}

void TPDFStructure::Compact() const {
    if (!FHasHoles)
        return;
    std::size_t j = 0;
    for (TPDFObject* v : FObjects)
        if (v) {
            v->FSlot = static_cast<std::int32_t>(j);
            FObjects[j++] = v;
        }
    FObjects.resize(j);
    FHasHoles = false;
}

TPDFObject* TPDFStructure::ObjectAt(int index) const {
    Compact();
    return index >= 0 && static_cast<std::size_t>(index) < FObjects.size()
               ? FObjects[static_cast<std::size_t>(index)]
               : nullptr;
}

} // namespace korvel
