#pragma once
// The values of the PDF object model: null, boolean, number, string, name, array, dictionary,
// stream and indirect reference, with typed access (Cast, AsDictionary, AsNumber ...) and the
// walks over what a container holds. Every value belongs to the store that made it
// (TPDFStructure, uPDFStore.h); containers hold non-owning pointers into the same store.
// Lookups never throw: a missing key, an index out of range, a wrong class or a dangling
// reference answer nullptr, an empty string or the caller's default.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace korvel {

class TPDFStructure;
class TPDFNull;
class TPDFBoolean;
class TPDFNumeric;
class TPDFString;
class TPDFName;
class TPDFArray;
class TPDFDictionary;
class TPDFStream;
class TPDFIndRef;

// Containers nested deeper than this scan as nothing (the enclosing container ends there) and
// write as `null`. Real files nest a handful of levels; the bound keeps hostile input from
// exhausting the stack.
constexpr int kMaxNesting = 256;

// The concrete class of a value, for typed access without casts at call sites.
enum class TPDFClass : std::uint8_t {
    Null,
    Boolean,
    Numeric,
    String,
    Name,
    Array,
    Dictionary,
    Stream,
    IndRef
};

class TPDFObject {
public:
    explicit TPDFObject(TPDFStructure* owner, TPDFClass cls, char kind)
        : Owner(owner), FClass(cls), Kind(kind) {}
    virtual ~TPDFObject() = default;
    TPDFObject(const TPDFObject&) = delete;
    TPDFObject& operator=(const TPDFObject&) = delete;

    // Appends the PDF syntax of the value to out.
    void ToText(std::string& out) const { WriteChild(this, out, 0); }
    std::string ToText() const;

    // Releases the value and, for containers, hands their children on first (dictionaries and
    // streams to ReleaseTree, arrays to Release); children still held by the container stay in
    // the store. Walks with an explicit stack: depth and cycles cannot exhaust the stack.
    virtual void ReleaseTree();
    // Adds delta to the target of every reachable reference (values, items, stream
    // dictionaries; not keys), each value once.
    virtual void ShiftNumbers(std::int32_t delta);
    // True when this container holds `value` directly as a key, value or item (identity); a
    // stream also holds its dictionary and that dictionary's keys and values.
    virtual bool HoldsDirectly(const TPDFObject* value) const;

    void MarkIndirect(std::int32_t objNum, std::int32_t genNum);

    TPDFClass Class() const { return FClass; }
    // True while the value is in its store's list (registered and not released).
    bool IsLive() const { return FSlot >= 0; }

    TPDFStructure* Owner;
    std::int32_t ObjNum = 0;
    std::int32_t GenNum = 0;

protected:
    friend class TPDFStructure;
    friend class TPDFArray;
    friend class TPDFDictionary;
    friend class TPDFStream;
    virtual void WriteText(std::string& out, int depth) const = 0;
    // Writes a child at the given depth: `null` for a container deeper than kMaxNesting or one
    // already being written further up (a container that holds itself).
    void WriteChild(const TPDFObject* child, std::string& out, int depth) const;
    // Counts a container's hold on a child while the container is live in its store.
    static void AdjustHolders(const TPDFObject* holder, TPDFObject* child, int delta);

private:
    friend class TPDFName;
    // Bookkeeping of the store: the position in its list (-1 once released) and how many
    // containers of the store hold this value directly. (Fields are ordered for a small value:
    // a long document holds millions of them.)
    std::int32_t FSlot = -1;
    std::int32_t FHolders = 0;
    TPDFClass FClass;

public:
    char Kind;                    // 'D', 'N', 'A', 'S', 'I'; 0 for null, boolean, number, string
    std::uint8_t CryptToggle = 0; // unused on the reading road
    bool IsIndirect = false;

private:
    bool FOwnedByStore = false;         // in its store's FOwned (so never registered twice)
    mutable bool FOnWriteChain = false; // being written by WriteText further up
};

class TPDFNull final : public TPDFObject {
public:
    explicit TPDFNull(TPDFStructure* owner) : TPDFObject(owner, TPDFClass::Null, 0) {}

protected:
    void WriteText(std::string& out, int depth) const override;
};

class TPDFBoolean final : public TPDFObject {
public:
    TPDFBoolean(TPDFStructure* owner, bool value)
        : TPDFObject(owner, TPDFClass::Boolean, 0), Value(value) {}
    void SetValue(bool value) { Value = value; }
    bool Value;

protected:
    void WriteText(std::string& out, int depth) const override;
};

class TPDFNumeric final : public TPDFObject {
public:
    TPDFNumeric(TPDFStructure* owner, double value)
        : TPDFObject(owner, TPDFClass::Numeric, 0), Value(value) {}
    // Nearest integer, halves to even; saturates at the 32-bit range; NaN gives 0.
    std::int32_t IntValue() const;
    void SetValue(double value) { Value = value; }
    double Value;

protected:
    void WriteText(std::string& out, int depth) const override;
};

class TPDFString final : public TPDFObject {
public:
    TPDFString(TPDFStructure* owner, std::string value, bool isHex)
        : TPDFObject(owner, TPDFClass::String, 0), Value(std::move(value)), IsHex(isHex) {}
    void SetValue(std::string value) { Value = std::move(value); }
    std::string Value;
    bool IsHex;

protected:
    void WriteText(std::string& out, int depth) const override;
};

class TPDFName final : public TPDFObject {
public:
    TPDFName(TPDFStructure* owner, std::string value);
    const std::string& Value() const { return FValue; }
    void SetValue(std::string value);
    bool IsCommon = false;

protected:
    void WriteText(std::string& out, int depth) const override;

private:
    friend class TPDFStructure;
    std::string FValue;
    // Place in the store's name lists: the registration order, and a tag that changes on every
    // registration and change of value (list entries with another tag are stale).
    std::uint64_t FOrder = 0;
    std::uint64_t FTag = 0;
};

class TPDFArray final : public TPDFObject {
public:
    explicit TPDFArray(TPDFStructure* owner) : TPDFObject(owner, TPDFClass::Array, 'A') {}

    int Count() const { return static_cast<int>(FItems.size()); }
    TPDFObject* Item(int index) const;
    const std::vector<TPDFObject*>& Items() const { return FItems; }

    void Add(TPDFObject* value);
    void Insert(int index, TPDFObject* value);
    void Delete(int index);
    void Replace(int index, TPDFObject* value);
    void ReplaceRaw(int index, TPDFObject* value);
    void Move(int from, int to);
    void Clear();
    void Reserve(int n);
    // Gives back the spare room of the item list.
    void ShrinkToFit() { FItems.shrink_to_fit(); }
    int IndexOfText(const TPDFObject* value) const;
    bool ContainsText(std::string_view text) const;

    void ReleaseTree() override;
    void ShiftNumbers(std::int32_t delta) override;
    bool HoldsDirectly(const TPDFObject* value) const override;

protected:
    void WriteText(std::string& out, int depth) const override;

private:
    friend class TPDFStructure;
    std::vector<TPDFObject*> FItems;
};

class TPDFDictionary final : public TPDFObject {
public:
    explicit TPDFDictionary(TPDFStructure* owner) : TPDFObject(owner, TPDFClass::Dictionary, 'D') {}

    int Count() const { return static_cast<int>(FEntries.size()); }
    // Key and value of an entry; both nullptr out of range.
    std::pair<TPDFName*, TPDFObject*> EntryAt(int index) const;
    // Index of the entry with exactly these key bytes (the last one), or -1.
    int IndexOfKey(std::string_view key) const;
    // The entry's value; with follow, a reference is replaced by what it resolves to (one level).
    TPDFObject* Get(std::string_view key, bool follow = true) const;
    // The value of a direct `Type` name; empty otherwise.
    std::string GetTypeName() const;
    int32_t GetInteger(std::string_view key, int32_t defaultValue) const;
    // A name's value or a string's bytes (following a reference); empty otherwise.
    std::string GetText(std::string_view key) const;

    void Put(std::string_view key, TPDFObject* value);
    void PutEntry(TPDFName* key, TPDFObject* value);
    void Remove(std::string_view key);
    void RemoveAndRelease(std::string_view key);
    void Clear();
    void Assign(const TPDFDictionary* other);
    // Gives back the spare room of the entry list.
    void ShrinkToFit() { FEntries.shrink_to_fit(); }

    // 1-based position just after the closing `>>` where the scanner stopped; 0 when not parsed.
    std::int64_t EndPosition = 0;

    void ReleaseTree() override;
    void ShiftNumbers(std::int32_t delta) override;
    bool HoldsDirectly(const TPDFObject* value) const override;

protected:
    void WriteText(std::string& out, int depth) const override;

private:
    friend class TPDFStructure;
    void RemoveAt(int index);
    void RebuildIndex() const;
    std::vector<std::pair<TPDFName*, TPDFObject*>> FEntries;
    // Key -> index, built once a dictionary grows past a few entries so that hostile
    // dictionaries with many keys do not make parsing quadratic.
    mutable std::unique_ptr<std::unordered_map<std::string_view, int>> FIndex;
    mutable std::uint64_t FIndexEpoch = 0;
    mutable bool FIndexValid = false;
};

class TPDFStream final : public TPDFObject {
public:
    TPDFStream(TPDFStructure* owner, TPDFDictionary* dictionary, std::string rawData);

    TPDFDictionary* Dictionary() const { return FDictionary; }
    // The raw bytes: the stream's own, or a view of bytes that outlive it (a loaded file's).
    std::string_view RawData() const { return FRawView ? *FRawView : std::string_view(FRawData); }
    // Stores the bytes and sets `Length` to their count.
    void SetRawData(std::string data);
    // Replaces raw data without touching `Length` (decryption in place).
    void ReplaceRawData(std::string data) {
        FRawData = std::move(data);
        FRawView.reset();
        ++FDataVersion;
    }
    // SetRawData for bytes read in place: the caller keeps them alive as long as the stream.
    void SetRawView(std::string_view data);
    // Force-releases the current dictionary and takes the given one.
    void SetDictionary(TPDFDictionary* dictionary);
    // The raw data run through the stream's filter chain.
    std::string DecodedData() const;
    // Bumped whenever the raw data changes; lets callers cache decoded results.
    std::uint64_t DataVersion() const { return FDataVersion; }

    void ReleaseTree() override;
    void ShiftNumbers(std::int32_t delta) override;
    bool HoldsDirectly(const TPDFObject* value) const override;

protected:
    void WriteText(std::string& out, int depth) const override;

private:
    void SetLengthEntry();

    TPDFDictionary* FDictionary;
    std::string FRawData;
    std::optional<std::string_view> FRawView;
    std::uint64_t FDataVersion = 0;
};

class TPDFIndRef final : public TPDFObject {
public:
    TPDFIndRef(TPDFStructure* owner, std::int32_t objNum, std::int32_t genNum);
    // The referenced value through the owner's OnResolve; nullptr when unset or unresolvable.
    TPDFObject* Resolve() const;
    std::int32_t RefObjNum() const { return FRefObjNum; }
    std::int32_t RefGenNum() const { return FRefGenNum; }
    void SetTarget(std::int32_t objNum, std::int32_t genNum) {
        FRefObjNum = objNum;
        FRefGenNum = genNum;
    }
    void ShiftNumbers(std::int32_t delta) override;

protected:
    void WriteText(std::string& out, int depth) const override;

private:
    std::int32_t FRefObjNum;
    std::int32_t FRefGenNum;
};

// A view of a four-number array as left, bottom, right, top (right >= left, top >= bottom).
class TPDFRectangle {
public:
    explicit TPDFRectangle(const TPDFObject* value);
    bool IsValid() const { return FValid; }
    double Left() const;
    double Bottom() const;
    double Right() const;
    double Top() const;
    double Width() const { return Right() - Left(); }
    double Height() const { return Top() - Bottom(); }
    // code mod 128: 0 left, 1 top, 2 width, 3 height, 4 right, 5 bottom, otherwise 0.
    double Edge(int code) const;

private:
    bool FValid = false;
    const TPDFArray* FArray = nullptr;
    const TPDFNumeric* FLeft = nullptr;
    const TPDFNumeric* FBottom = nullptr;
    const TPDFNumeric* FRight = nullptr;
    const TPDFNumeric* FTop = nullptr;
};

// Typed access: nullptr when the value is none or of another class.
template <class T> T* Cast(TPDFObject* v);
template <class T> const T* Cast(const TPDFObject* v);

#define KORVEL_CAST(T, C)                                                                          \
    template <> inline T* Cast<T>(TPDFObject * v) {                                                \
        return v && v->Class() == TPDFClass::C ? static_cast<T*>(v) : nullptr;                     \
    }                                                                                              \
    template <> inline const T* Cast<T>(const TPDFObject* v) {                                     \
        return v && v->Class() == TPDFClass::C ? static_cast<const T*>(v) : nullptr;               \
    }
KORVEL_CAST(TPDFNull, Null)
KORVEL_CAST(TPDFBoolean, Boolean)
KORVEL_CAST(TPDFNumeric, Numeric)
KORVEL_CAST(TPDFString, String)
KORVEL_CAST(TPDFName, Name)
KORVEL_CAST(TPDFArray, Array)
KORVEL_CAST(TPDFDictionary, Dictionary)
KORVEL_CAST(TPDFStream, Stream)
KORVEL_CAST(TPDFIndRef, IndRef)
#undef KORVEL_CAST

inline TPDFDictionary* AsDictionary(TPDFObject* v) {
    return Cast<TPDFDictionary>(v);
}
inline TPDFArray* AsArray(TPDFObject* v) {
    return Cast<TPDFArray>(v);
}
inline TPDFStream* AsStream(TPDFObject* v) {
    return Cast<TPDFStream>(v);
}
inline TPDFName* AsName(TPDFObject* v) {
    return Cast<TPDFName>(v);
}
inline TPDFIndRef* AsRef(TPDFObject* v) {
    return Cast<TPDFIndRef>(v);
}
// A number's value, or the default for anything else.
inline double AsNumber(const TPDFObject* v, double defaultValue = 0) {
    const auto* n = Cast<TPDFNumeric>(v);
    return n ? n->Value : defaultValue;
}

// Arrays, dictionaries and streams.
inline bool IsContainer(const TPDFObject* v) {
    const TPDFClass c = v->Class();
    return c == TPDFClass::Array || c == TPDFClass::Dictionary || c == TPDFClass::Stream;
}

// Calls fn on every value a container holds directly: keys and values, items, a stream's
// dictionary. Null entries are skipped.
template <class Fn> void ForEachChild(TPDFObject* v, Fn&& fn) {
    switch (v->Class()) {
    case TPDFClass::Dictionary: {
        auto* d = static_cast<TPDFDictionary*>(v);
        for (int i = 0; i < d->Count(); ++i) {
            const auto [key, value] = d->EntryAt(i);
            if (key)
                fn(static_cast<TPDFObject*>(key));
            if (value)
                fn(value);
        }
        break;
    }
    case TPDFClass::Array:
        for (TPDFObject* item : static_cast<TPDFArray*>(v)->Items())
            if (item)
                fn(item);
        break;
    case TPDFClass::Stream:
        if (TPDFDictionary* d = static_cast<TPDFStream*>(v)->Dictionary())
            fn(static_cast<TPDFObject*>(d));
        break;
    default:
        break;
    }
}

// Pushes the values a container holds directly (for a stream, its dictionary), last first, so
// that popping from the back walks them in order. Other values push nothing.
void PushChildren(TPDFObject* current, std::vector<TPDFObject*>& pending);
// A value nested directly inside root that is itself a different indirect object; walks over
// one object handle it under its own numbers, never as part of root.
bool IsOtherIndirect(const TPDFObject* root, const TPDFObject* value);

} // namespace korvel
