#include "file/uPDFStructure.h"

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

// Dictionaries up to this many entries are searched linearly; larger ones build a key index.
constexpr int kLinearSearchEntries = 8;

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool isContainer(const TPDFObject* v) {
    const TPDFClass c = v->Class();
    return c == TPDFClass::Array || c == TPDFClass::Dictionary || c == TPDFClass::Stream;
}

void appendInt(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto res = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, res.ptr);
}

// Calls fn on every value a container holds directly: keys and values, items, a stream's
// dictionary. Null entries are skipped.
template <class Fn> void forEachChild(TPDFObject* v, Fn&& fn) {
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

// A live container's children are all held by it, so releasing them keeps them and
// ReleaseTree comes down to releasing the container itself. Only below containers that were
// already released can children go; that walk uses an explicit stack and enters each released
// container once, so neither depth nor cycles matter.
void releaseTreeOf(TPDFObject* root) {
    TPDFStructure* store = root->Owner;
    if (!store)
        return;
    if (root->IsLive() || !isContainer(root)) {
        store->Release(root);
        return;
    }
    struct Frame {
        TPDFObject* Value;
        std::vector<std::pair<TPDFObject*, bool>> Children; // (child, whole tree)
        std::size_t Next = 0;
    };
    auto frameOf = [](TPDFObject* v) {
        Frame f{v, {}, 0};
        // Dictionaries and streams hand their children on to ReleaseTree, arrays to Release.
        const bool tree = v->Class() != TPDFClass::Array;
        forEachChild(v, [&](TPDFObject* c) { f.Children.emplace_back(c, tree); });
        return f;
    };
    std::unordered_set<const TPDFObject*> entered{root};
    std::vector<Frame> stack;
    stack.push_back(frameOf(root));
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.Next == top.Children.size()) {
            store->Release(top.Value);
            stack.pop_back();
            continue;
        }
        const auto [child, tree] = top.Children[top.Next++];
        if (tree && isContainer(child) && !child->IsLive()) {
            if (entered.insert(child).second)
                stack.push_back(frameOf(child));
        } else {
            store->Release(child);
        }
    }
}

// Adds delta to the target of every reference reachable through values (not keys), items and
// stream dictionaries, each value visited once.
void shiftReachable(TPDFObject* root, std::int32_t delta) {
    std::vector<TPDFObject*> stack{root};
    std::unordered_set<const TPDFObject*> seen{root};
    auto push = [&](TPDFObject* v) {
        if (v && seen.insert(v).second)
            stack.push_back(v);
    };
    while (!stack.empty()) {
        TPDFObject* v = stack.back();
        stack.pop_back();
        switch (v->Class()) {
        case TPDFClass::IndRef: {
            auto* r = static_cast<TPDFIndRef*>(v);
            // Wraps like two's complement rather than overflowing.
            r->SetTarget(static_cast<std::int32_t>(static_cast<std::uint32_t>(r->RefObjNum()) +
                                                   static_cast<std::uint32_t>(delta)),
                         r->RefGenNum());
            break;
        }
        case TPDFClass::Dictionary: {
            auto* d = static_cast<TPDFDictionary*>(v);
            for (int i = 0; i < d->Count(); ++i)
                push(d->EntryAt(i).second);
            break;
        }
        case TPDFClass::Array:
            for (TPDFObject* item : static_cast<TPDFArray*>(v)->Items())
                push(item);
            break;
        case TPDFClass::Stream:
            push(static_cast<TPDFStream*>(v)->Dictionary());
            break;
        default:
            break;
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TPDFObject

std::string TPDFObject::ToText() const {
    std::string out;
    ToText(out);
    return out;
}

void TPDFObject::ReleaseTree() {
    if (Owner)
        Owner->Release(this);
}

void TPDFObject::ShiftNumbers(std::int32_t) {}

bool TPDFObject::HoldsDirectly(const TPDFObject*) const {
    return false;
}

void TPDFObject::MarkIndirect(std::int32_t objNum, std::int32_t genNum) {
    IsIndirect = true;
    ObjNum = objNum;
    GenNum = genNum;
}

void TPDFObject::WriteChild(const TPDFObject* child, std::string& out, int depth) const {
    if (!child)
        return;
    if (!isContainer(child)) {
        child->WriteText(out, depth);
        return;
    }
    if (depth >= kMaxNesting || child->FOnWriteChain) {
        out += "null";
        return;
    }
    struct ChainMark {
        const TPDFObject* Value;
        explicit ChainMark(const TPDFObject* v) : Value(v) { Value->FOnWriteChain = true; }
        ~ChainMark() { Value->FOnWriteChain = false; }
        ChainMark(const ChainMark&) = delete;
        ChainMark& operator=(const ChainMark&) = delete;
    } mark(child);
    child->WriteText(out, depth);
}

void TPDFObject::AdjustHolders(const TPDFObject* holder, TPDFObject* child, int delta) {
    if (child && holder->FSlot >= 0 && holder->Owner && child->Owner == holder->Owner)
        child->FHolders += delta;
}

// ---------------------------------------------------------------------------------------------
// Scalars

void TPDFNull::WriteText(std::string& out, int) const {
    out += "null";
}

void TPDFBoolean::WriteText(std::string& out, int) const {
    out += Value ? "true" : "false";
}

std::int32_t TPDFNumeric::IntValue() const {
    const double v = Value;
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    const double whole = std::floor(v);
    const double rest = v - whole;
    std::int64_t r = static_cast<std::int64_t>(whole);
    if (rest > 0.5 || (rest == 0.5 && (r & 1) != 0))
        ++r;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(r, INT32_MIN, INT32_MAX));
}

void TPDFNumeric::WriteText(std::string& out, int) const {
    out += PDFNumberText(Value, Owner ? Owner->NumberDecimals : 4);
}

void TPDFString::WriteText(std::string& out, int) const {
    if (IsHex) {
        out += '<';
        for (const char ch : Value) {
            const auto c = static_cast<unsigned char>(ch);
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 15];
        }
        out += '>';
        return;
    }
    out += '(';
    for (const char c : Value) {
        switch (c) {
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        case '(':
            out += "\\(";
            break;
        case ')':
            out += "\\)";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
            break;
        }
    }
    out += ')';
}

TPDFName::TPDFName(TPDFStructure* owner, std::string value)
    : TPDFObject(owner, TPDFClass::Name, 'N'), FValue(std::move(value)) {}

void TPDFName::SetValue(std::string value) {
    std::string old = std::move(FValue);
    FValue = std::move(value);
    if (Owner)
        Owner->NameValueChanged(this, old);
}

void TPDFName::WriteText(std::string& out, int) const {
    out += '/';
    for (const char ch : FValue) {
        const auto c = static_cast<unsigned char>(ch);
        const bool escape = c <= 32 || c >= 127 || c == '#' || c == '%' || c == '(' || c == ')' ||
                            c == '/' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
                            c == '}';
        if (escape) {
            out += '#';
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 15];
        } else {
            out += ch;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TPDFArray

TPDFObject* TPDFArray::Item(int index) const {
    return index >= 0 && index < Count() ? FItems[static_cast<std::size_t>(index)] : nullptr;
}

void TPDFArray::Add(TPDFObject* value) {
    FItems.push_back(value);
    AdjustHolders(this, value, 1);
}

void TPDFArray::Insert(int index, TPDFObject* value) {
    if (index < 0 || index > Count())
        return;
    FItems.insert(FItems.begin() + index, value);
    AdjustHolders(this, value, 1);
}

void TPDFArray::Delete(int index) {
    if (index < 0 || index >= Count())
        return;
    TPDFObject* item = FItems[static_cast<std::size_t>(index)];
    // Released while this array still holds it, as everywhere in the store.
    if (item && Owner)
        Owner->Release(item);
    FItems.erase(FItems.begin() + index);
    AdjustHolders(this, item, -1);
}

void TPDFArray::Replace(int index, TPDFObject* value) {
    if (index < 0 || index >= Count())
        return;
    TPDFObject* old = FItems[static_cast<std::size_t>(index)];
    if (old && Owner)
        Owner->Release(old);
    ReplaceRaw(index, value);
}

void TPDFArray::ReplaceRaw(int index, TPDFObject* value) {
    if (index < 0 || index >= Count())
        return;
    TPDFObject*& slot = FItems[static_cast<std::size_t>(index)];
    AdjustHolders(this, value, 1);
    AdjustHolders(this, slot, -1);
    slot = value;
}

void TPDFArray::Move(int from, int to) {
    if (from < 0 || from >= Count() || to < 0 || to >= Count() || from == to)
        return;
    auto first = FItems.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else
        std::rotate(first + to, first + from, first + from + 1);
}

void TPDFArray::Clear() {
    if (Owner)
        for (TPDFObject* item : FItems)
            if (item)
                Owner->Release(item);
    for (TPDFObject* item : FItems)
        AdjustHolders(this, item, -1);
    FItems.clear();
}

void TPDFArray::Reserve(int n) {
    // Callers may pass counts read from a file: the reservation is only a hint, so it is capped.
    constexpr int kMaxReserve = 1 << 16;
    if (n > 0)
        FItems.reserve(FItems.size() + static_cast<std::size_t>(std::min(n, kMaxReserve)));
}

int TPDFArray::IndexOfText(const TPDFObject* value) const {
    if (!value)
        return -1;
    const std::string text = value->ToText();
    for (int i = 0; i < Count(); ++i)
        if (FItems[static_cast<std::size_t>(i)] &&
            FItems[static_cast<std::size_t>(i)]->ToText() == text)
            return i;
    return -1;
}

bool TPDFArray::ContainsText(std::string_view text) const {
    for (const TPDFObject* item : FItems)
        if (item && item->ToText() == text)
            return true;
    return false;
}

void TPDFArray::ReleaseTree() {
    releaseTreeOf(this);
}

void TPDFArray::ShiftNumbers(std::int32_t delta) {
    shiftReachable(this, delta);
}

bool TPDFArray::HoldsDirectly(const TPDFObject* value) const {
    return value && std::find(FItems.begin(), FItems.end(), value) != FItems.end();
}

void TPDFArray::WriteText(std::string& out, int depth) const {
    std::size_t lastBreak = out.size();
    out += "[ ";
    for (const TPDFObject* item : FItems) {
        WriteChild(item, out, depth + 1);
        if (out.back() != '\n')
            out += ' ';
        if (out.size() - lastBreak > 80) {
            out += '\n';
            lastBreak = out.size();
        }
    }
    out += ']';
}

// ---------------------------------------------------------------------------------------------
// TPDFDictionary

std::pair<TPDFName*, TPDFObject*> TPDFDictionary::EntryAt(int index) const {
    if (index < 0 || index >= Count())
        return {nullptr, nullptr};
    return FEntries[static_cast<std::size_t>(index)];
}

void TPDFDictionary::RebuildIndex() const {
    if (!FIndex)
        FIndex = std::make_unique<std::unordered_map<std::string_view, int>>();
    FIndex->clear();
    FIndex->reserve(FEntries.size());
    for (std::size_t i = 0; i < FEntries.size(); ++i)
        if (const TPDFName* key = FEntries[i].first)
            FIndex->insert_or_assign(std::string_view(key->Value()), static_cast<int>(i));
    FIndexEpoch = Owner ? Owner->NameEpoch : 0;
    FIndexValid = true;
}

int TPDFDictionary::IndexOfKey(std::string_view key) const {
    if (Count() <= kLinearSearchEntries) {
        for (int i = Count() - 1; i >= 0; --i) {
            const TPDFName* k = FEntries[static_cast<std::size_t>(i)].first;
            if (k && k->Value() == key)
                return i;
        }
        return -1;
    }
    // The index maps views of the key names' bytes; a name changing its value bumps the
    // store's epoch, after which the views are rebuilt.
    if (!FIndexValid || FIndexEpoch != (Owner ? Owner->NameEpoch : 0))
        RebuildIndex();
    const auto it = FIndex->find(key);
    return it == FIndex->end() ? -1 : it->second;
}

TPDFObject* TPDFDictionary::Get(std::string_view key, bool follow) const {
    const int index = IndexOfKey(key);
    if (index < 0)
        return nullptr;
    TPDFObject* value = FEntries[static_cast<std::size_t>(index)].second;
    if (follow)
        if (const TPDFIndRef* ref = Cast<TPDFIndRef>(value))
            return ref->Resolve();
    return value;
}

std::string TPDFDictionary::GetTypeName() const {
    const TPDFName* name = Cast<TPDFName>(Get("Type", false));
    return name ? name->Value() : std::string();
}

std::int32_t TPDFDictionary::GetInteger(std::string_view key, std::int32_t defaultValue) const {
    const TPDFNumeric* number = Cast<TPDFNumeric>(Get(key, true));
    return number ? number->IntValue() : defaultValue;
}

std::string TPDFDictionary::GetText(std::string_view key) const {
    const TPDFObject* value = Get(key, true);
    if (const TPDFName* name = Cast<TPDFName>(value))
        return name->Value();
    if (const TPDFString* text = Cast<TPDFString>(value))
        return text->Value;
    return {};
}

void TPDFDictionary::Put(std::string_view key, TPDFObject* value) {
    if (value == this || !Owner)
        return;
    PutEntry(Owner->CommonName(key), value);
}

void TPDFDictionary::PutEntry(TPDFName* key, TPDFObject* value) {
    if (!key)
        return;
    const int index = IndexOfKey(key->Value());
    const bool indexCurrent = FIndexValid && FIndexEpoch == (Owner ? Owner->NameEpoch : 0);
    AdjustHolders(this, key, 1);
    AdjustHolders(this, value, 1);
    if (index >= 0) {
        auto& entry = FEntries[static_cast<std::size_t>(index)];
        AdjustHolders(this, entry.first, -1);
        AdjustHolders(this, entry.second, -1);
        entry = {key, value};
        if (indexCurrent) {
            // Same bytes, but the view must point into the name now held.
            FIndex->erase(std::string_view(key->Value()));
            FIndex->emplace(std::string_view(key->Value()), index);
        }
        return;
    }
    FEntries.emplace_back(key, value);
    if (indexCurrent)
        FIndex->emplace(std::string_view(key->Value()), Count() - 1);
    else
        FIndexValid = false;
}

void TPDFDictionary::RemoveAt(int index) {
    if (index < 0 || index >= Count())
        return;
    const auto [key, value] = FEntries[static_cast<std::size_t>(index)];
    FEntries.erase(FEntries.begin() + index);
    AdjustHolders(this, key, -1);
    AdjustHolders(this, value, -1);
    FIndexValid = false;
}

void TPDFDictionary::Remove(std::string_view key) {
    RemoveAt(IndexOfKey(key));
}

void TPDFDictionary::RemoveAndRelease(std::string_view key) {
    const int index = IndexOfKey(key);
    if (index < 0)
        return;
    const auto [name, value] = FEntries[static_cast<std::size_t>(index)];
    if (value && (value->Class() == TPDFClass::Dictionary || value->Class() == TPDFClass::Array))
        value->ReleaseTree();
    if (name && Owner && !TPDFStructure::IsCommonNameText(name->Value()))
        Owner->Release(name);
    RemoveAt(index);
}

void TPDFDictionary::Clear() {
    if (Owner)
        for (const auto& [key, value] : FEntries) {
            if (key)
                Owner->Release(key);
            if (value)
                Owner->Release(value);
        }
    for (const auto& [key, value] : FEntries) {
        AdjustHolders(this, key, -1);
        AdjustHolders(this, value, -1);
    }
    FEntries.clear();
    FIndexValid = false;
}

void TPDFDictionary::Assign(const TPDFDictionary* other) {
    if (!other || other == this)
        return;
    if (other->Owner != Owner) {
        // Values never cross stores: the other dictionary travels as text.
        if (!Owner)
            return;
        if (const TPDFDictionary* copy = Cast<TPDFDictionary>(Owner->Parse(other->ToText())))
            Assign(copy);
        return;
    }
    for (const auto& [key, value] : other->FEntries) {
        AdjustHolders(this, key, 1);
        AdjustHolders(this, value, 1);
    }
    for (const auto& [key, value] : FEntries) {
        AdjustHolders(this, key, -1);
        AdjustHolders(this, value, -1);
    }
    FEntries = other->FEntries;
    FIndexValid = false;
}

void TPDFDictionary::ReleaseTree() {
    releaseTreeOf(this);
}

void TPDFDictionary::ShiftNumbers(std::int32_t delta) {
    shiftReachable(this, delta);
}

bool TPDFDictionary::HoldsDirectly(const TPDFObject* value) const {
    if (!value)
        return false;
    for (const auto& [key, v] : FEntries)
        if (key == value || v == value)
            return true;
    return false;
}

void TPDFDictionary::WriteText(std::string& out, int depth) const {
    out += "<<\n";
    for (const auto& [key, value] : FEntries) {
        const std::size_t mark = out.size();
        try {
            WriteChild(key, out, depth + 1);
            out += ' ';
            WriteChild(value, out, depth + 1);
            if (out.back() != '\n')
                out += '\n';
        } catch (const std::exception&) {
            RethrowExhaustion();
            out.resize(mark);
            out += "% bug \n";
        }
    }
    out += ">>\n";
}

// ---------------------------------------------------------------------------------------------
// TPDFStream

TPDFStream::TPDFStream(TPDFStructure* owner, TPDFDictionary* dictionary, std::string rawData)
    : TPDFObject(owner, TPDFClass::Stream, 'S'), FDictionary(dictionary),
      FRawData(std::move(rawData)) {
    if (!FDictionary && owner)
        FDictionary = owner->CreateDictionary();
}

void TPDFStream::SetRawData(std::string data) {
    FRawData = std::move(data);
    FRawView.reset();
    ++FDataVersion;
    SetLengthEntry();
}

void TPDFStream::SetRawView(std::string_view data) {
    std::string().swap(FRawData);
    FRawView = data;
    ++FDataVersion;
    SetLengthEntry();
}

void TPDFStream::SetLengthEntry() {
    if (!FDictionary)
        return;
    const double length = static_cast<double>(RawData().size());
    if (TPDFNumeric* number = Cast<TPDFNumeric>(FDictionary->Get("Length", false)))
        number->SetValue(length);
    else if (Owner)
        FDictionary->Put("Length", Owner->CreateNumber(length));
}

void TPDFStream::SetDictionary(TPDFDictionary* dictionary) {
    if (dictionary == FDictionary)
        return;
    TPDFDictionary* old = FDictionary;
    AdjustHolders(this, dictionary, 1);
    AdjustHolders(this, old, -1);
    FDictionary = dictionary;
    if (old && Owner)
        Owner->Release(old, true);
}

std::string TPDFStream::DecodedData() const {
    return DecodeStream(*this);
}

void TPDFStream::ReleaseTree() {
    releaseTreeOf(this);
}

void TPDFStream::ShiftNumbers(std::int32_t delta) {
    shiftReachable(this, delta);
}

bool TPDFStream::HoldsDirectly(const TPDFObject* value) const {
    // The stream answers for its dictionary too: releasing the dictionary of a live stream
    // would leave the stream pointing at a freed value.
    return value && FDictionary && (value == FDictionary || FDictionary->HoldsDirectly(value));
}

void TPDFStream::WriteText(std::string& out, int depth) const {
    WriteChild(FDictionary, out, depth);
    out += "stream\n";
    out += RawData();
    out += "\nendstream";
}

// ---------------------------------------------------------------------------------------------
// TPDFIndRef

TPDFIndRef::TPDFIndRef(TPDFStructure* owner, std::int32_t objNum, std::int32_t genNum)
    : TPDFObject(owner, TPDFClass::IndRef, 'I'), FRefObjNum(objNum), FRefGenNum(genNum) {}

TPDFObject* TPDFIndRef::Resolve() const {
    if (!Owner || !Owner->OnResolve)
        return nullptr;
    return Owner->OnResolve(this, FRefObjNum, FRefGenNum);
}

void TPDFIndRef::ShiftNumbers(std::int32_t delta) {
    shiftReachable(this, delta);
}

void TPDFIndRef::WriteText(std::string& out, int) const {
    appendInt(out, FRefObjNum);
    out += ' ';
    appendInt(out, FRefGenNum);
    out += " R";
}

// ---------------------------------------------------------------------------------------------
// TPDFRectangle

TPDFRectangle::TPDFRectangle(const TPDFObject* value) {
    const TPDFArray* array = Cast<TPDFArray>(value);
    if (!array || array->Count() != 4)
        return;
    const TPDFNumeric* n[4];
    for (int i = 0; i < 4; ++i) {
        n[i] = Cast<TPDFNumeric>(array->Item(i));
        if (!n[i])
            return;
    }
    FArray = array;
    FLeft = n[0];
    FBottom = n[1];
    FRight = n[2];
    FTop = n[3];
    if (!(FRight->Value >= FLeft->Value))
        std::swap(FLeft, FRight);
    if (!(FTop->Value >= FBottom->Value))
        std::swap(FBottom, FTop);
    FValid = true;
}

double TPDFRectangle::Left() const {
    return FValid ? FLeft->Value : 0;
}
double TPDFRectangle::Bottom() const {
    return FValid ? FBottom->Value : 0;
}
double TPDFRectangle::Right() const {
    return FValid ? FRight->Value : 0;
}
double TPDFRectangle::Top() const {
    return FValid ? FTop->Value : 0;
}

double TPDFRectangle::Edge(int code) const {
    switch (code % 128) {
    case 0:
        return Left();
    case 1:
        return Top();
    case 2:
        return Width();
    case 3:
        return Height();
    case 4:
        return Right();
    case 5:
        return Bottom();
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// The scanner

namespace {

// Scans one object of PDF syntax. Positions are 0-based here (the first byte is position 0);
// the rules in terms of "position < length" use Pos + 1 for the 1-based position.
class TSyntaxScanner {
public:
    TSyntaxScanner(TPDFStructure& store, std::string_view text) : FStore(store), FText(text) {}

    // White space and comments; the last byte of the text is never passed as white space.
    void SkipWhiteSpace() {
        const std::size_t n = FText.size();
        while (Pos + 1 < n) {
            const auto c = at(Pos);
            if (IsWhiteSpace(c)) {
                ++Pos;
            } else if (c == '%') {
                while (Pos + 1 < n && at(Pos) != '\n' && at(Pos) != '\r')
                    ++Pos;
                if (at(Pos) == '\r' && Pos + 1 < n && at(Pos + 1) == '\n')
                    Pos += 2;
                else
                    ++Pos;
            } else {
                break;
            }
        }
    }

    // depth is the number of containers around the object being scanned.
    TPDFObject* ScanObject(int depth) {
        const std::size_t n = FText.size();
        if (Pos >= n)
            return nullptr;
        const std::size_t after = n - Pos - 1; // bytes after the current one
        const auto c = at(Pos);
        if (c == '<' && after > 2 && at(Pos + 1) == '<')
            return scanDictionary(depth);
        if (c == '[' && after > 1)
            return scanArray(depth);
        if (keywordAt("true"))
            return FStore.CreateBoolean(true);
        if (keywordAt("false"))
            return FStore.CreateBoolean(false);
        if (keywordAt("null"))
            return FStore.CreateNull();
        if (c == '-' || c == '.' || IsDigit(c))
            return scanNumberOrRef();
        if (c == '(')
            return scanLiteralString();
        if (c == '<' && after > 1)
            return scanHexString();
        if (c == '/')
            return scanName();
        return nullptr;
    }

    std::size_t Pos = 0;
    bool Stopped = false; // a flood of openings was met: every open container ends

private:
    unsigned char at(std::size_t i) const { return static_cast<unsigned char>(FText[i]); }

    bool keywordAt(std::string_view keyword) {
        if (FText.size() - Pos < keyword.size() || FText.substr(Pos, keyword.size()) != keyword)
            return false;
        const std::size_t end = Pos + keyword.size();
        if (end < FText.size() && !IsWhiteSpace(at(end)) && !IsDelimiter(at(end)))
            return false;
        Pos = end;
        return true;
    }

    // A container opened deeper than kMaxNesting scans as none and its enclosing container
    // ends there. The enclosing container's parent then reads on from that bracket; at the
    // second refusal the input is a flood of openings, and every open container ends where it
    // stands, so that each further byte stops making a new (empty) container.
    bool refuseDeeper(int depth) {
        if (depth < kMaxNesting)
            return false;
        // A dictionary asks again at the same place for the value after its key: one refusal.
        if (Pos != FRefusedAt && ++FRefusals >= 2)
            Stopped = true;
        FRefusedAt = Pos;
        return true;
    }

    TPDFObject* scanDictionary(int depth) {
        if (refuseDeeper(depth))
            return nullptr;
        Pos += 2;
        TPDFDictionary* dict = FStore.CreateDictionary();
        while (!Stopped) {
            SkipWhiteSpace();
            TPDFObject* key = ScanObject(depth + 1);
            if (Stopped)
                break;
            SkipWhiteSpace();
            TPDFObject* value = ScanObject(depth + 1);
            TPDFName* name = Cast<TPDFName>(key);
            if (!name || !value)
                break;
            dict->PutEntry(name, value);
        }
        if (Pos + 1 < FText.size() && at(Pos) == '>' && at(Pos + 1) == '>')
            Pos += 2;
        dict->EndPosition = static_cast<std::int64_t>(Pos) + 1;
        dict->ShrinkToFit(); // parsed containers rarely grow: keep no spare room
        return dict;
    }

    TPDFObject* scanArray(int depth) {
        if (refuseDeeper(depth))
            return nullptr;
        Pos += 1;
        TPDFArray* array = FStore.CreateArray();
        while (!Stopped) {
            SkipWhiteSpace();
            TPDFObject* item = ScanObject(depth + 1);
            if (!item)
                break;
            array->Add(item);
        }
        array->ShrinkToFit();
        if (Pos < FText.size() && at(Pos) == ']')
            ++Pos;
        return array;
    }

    // Reads a number token at Pos and moves past it; isReal tells whether it had a `.`.
    double readNumberToken(bool& isReal) {
        const std::size_t start = Pos;
        bool dot = at(Pos) == '.';
        ++Pos;
        while (Pos < FText.size()) {
            const auto c = at(Pos);
            if (IsDigit(c)) {
                ++Pos;
            } else if (c == '.' && !dot) {
                dot = true;
                ++Pos;
            } else {
                break;
            }
        }
        isReal = dot;
        const std::string_view token = FText.substr(start, Pos - start);
        if (!dot) {
            std::int32_t value = 0;
            return TryReadInt32(token, value) ? value : 0;
        }
        std::string text;
        if (token.front() == '.')
            text += '0';
        text += token;
        if (token.back() == '.')
            text += '0';
        return NumberFromText(text);
    }

    TPDFObject* scanNumberOrRef() {
        bool isReal = false;
        const double first = readNumberToken(isReal);
        if (isReal)
            return FStore.CreateNumber(first);
        const std::size_t afterFirst = Pos;
        SkipWhiteSpace();
        if (Pos < FText.size() && IsDigit(at(Pos))) {
            bool secondReal = false;
            const double second = readNumberToken(secondReal);
            SkipWhiteSpace();
            if (Pos < FText.size() && at(Pos) == 'R') {
                ++Pos;
                return FStore.CreateRef(static_cast<std::int32_t>(first), TruncToInt32(second));
            }
        }
        Pos = afterFirst;
        return FStore.CreateNumber(first);
    }

    TPDFObject* scanLiteralString() {
        const std::size_t n = FText.size();
        const std::size_t open = Pos;
        // Every container around an unterminated string asks again at the same position;
        // the answer is remembered so that the text is not searched to its end each time.
        if (open == FUnterminatedAt)
            return nullptr;
        std::size_t i = open + 1;
        int depth = 1;
        while (i < n && depth > 0) {
            const auto c = at(i);
            if (c == '(') {
                ++depth;
            } else if (c == ')') {
                --depth;
            } else if (c == '\\' && i + 2 < n) {
                const auto next = at(i + 1);
                if (next == '(' || next == ')' || next == '\\')
                    ++i;
            }
            ++i;
        }
        if (depth != 0) {
            FUnterminatedAt = open;
            return nullptr;
        }
        const std::string_view raw = FText.substr(open + 1, i - open - 2);
        Pos = i;
        return FStore.CreateString(rewriteLiteral(raw), false);
    }

    static std::string rewriteLiteral(std::string_view raw) {
        std::string out;
        out.reserve(raw.size());
        const std::size_t n = raw.size();
        std::size_t k = 0;
        while (k < n) {
            const char c = raw[k];
            if (c == '\r') {
                out += '\n';
                ++k;
                if (k < n && raw[k] == '\n')
                    ++k;
                continue;
            }
            if (c != '\\' || k + 1 >= n) {
                out += c;
                ++k;
                continue;
            }
            const char d = raw[k + 1];
            if (IsDigit(static_cast<unsigned char>(d))) {
                // Up to three digits in base-8 positions; 8 and 9 count at face value.
                int value = 0;
                std::size_t m = 0;
                while (m < 3 && k + 1 + m < n &&
                       IsDigit(static_cast<unsigned char>(raw[k + 1 + m]))) {
                    value = value * 8 + (raw[k + 1 + m] - '0');
                    ++m;
                }
                out += static_cast<char>(value & 0xFF);
                k += 1 + m;
                continue;
            }
            k += 2;
            switch (d) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case '(':
            case ')':
            case '\\':
                out += d;
                break;
            case '\n':
                break;
            case '\r':
                if (k < n && raw[k] == '\n')
                    ++k;
                break;
            default:
                out += '\\';
                out += d;
                break;
            }
        }
        return out;
    }

    TPDFObject* scanHexString() {
        const std::size_t n = FText.size();
        const std::size_t close = FText.find('>', Pos + 1);
        std::string_view body;
        if (close == std::string_view::npos) {
            // Unterminated: everything up to, not including, the last byte.
            body = FText.substr(Pos + 1, n - Pos - 2);
            Pos = n;
        } else {
            body = FText.substr(Pos + 1, close - Pos - 1);
            Pos = close + 1;
        }
        std::string digits;
        digits.reserve(body.size() + 1);
        for (const char ch : body)
            if (HexDigitValue(static_cast<unsigned char>(ch)) >= 0)
                digits += ch;
        if (digits.size() % 2 != 0)
            digits += '0';
        std::string bytes;
        bytes.reserve(digits.size() / 2);
        for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
            bytes += static_cast<char>(HexDigitValue(static_cast<unsigned char>(digits[i])) * 16 +
                                       HexDigitValue(static_cast<unsigned char>(digits[i + 1])));
        return FStore.CreateString(std::move(bytes), true);
    }

    TPDFObject* scanName() {
        const std::size_t start = Pos + 1;
        std::size_t end = start;
        while (end < FText.size() && !IsWhiteSpace(at(end)) && !IsDelimiter(at(end)))
            ++end;
        Pos = end;
        const std::string_view raw = FText.substr(start, end - start);
        std::string value;
        value.reserve(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '#' && i + 2 < raw.size()) {
                const int hi = HexDigitValue(static_cast<unsigned char>(raw[i + 1]));
                const int lo = HexDigitValue(static_cast<unsigned char>(raw[i + 2]));
                if (hi >= 0 && lo >= 0) {
                    value += static_cast<char>(hi * 16 + lo);
                    i += 2;
                    continue;
                }
            }
            value += raw[i];
        }
        return FStore.InternName(std::move(value));
    }

    TPDFStructure& FStore;
    std::string_view FText;
    std::size_t FUnterminatedAt = std::string_view::npos;
    int FRefusals = 0;
    std::size_t FRefusedAt = std::string_view::npos;
};

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
        FBlocks.push_back(std::make_unique<std::byte[]>(std::max(next, size)));
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

TPDFObject* TPDFStructure::Parse(std::string_view text) {
    return Parse(text, nullptr);
}

TPDFObject* TPDFStructure::Parse(std::string_view text, std::size_t* endPos) {
    if (text.empty()) {
        if (endPos)
            *endPos = 0;
        return nullptr;
    }
    TSyntaxScanner scanner(*this, text);
    scanner.SkipWhiteSpace();
    TPDFObject* value = scanner.ScanObject(0);
    if (endPos)
        *endPos = scanner.Pos;
    return value;
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
    forEachChild(value, [&](TPDFObject* child) {
        if (child->Owner == this)
            ++child->FHolders;
    });
}

void TPDFStructure::Unlink(TPDFObject* value) {
    forEachChild(value, [&](TPDFObject* child) {
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

// ---------------------------------------------------------------------------------------------
// Content-stream operand decoders

std::string ParseHexToken(std::string_view token) {
    if (token.size() < 2 || token.front() != '<' || token.back() != '>')
        return {};
    std::string digits;
    for (const char ch : token.substr(1, token.size() - 2)) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsDigit(c) || (c >= 'A' && c <= 'Z'))
            digits += static_cast<char>(c);
        else if (c >= 'a' && c <= 'z')
            digits += static_cast<char>(c - 32);
    }
    if (digits.size() % 2 != 0)
        digits += '0';
    std::string bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        const int hi = HexDigitValue(static_cast<unsigned char>(digits[i]));
        const int lo = HexDigitValue(static_cast<unsigned char>(digits[i + 1]));
        bytes += static_cast<char>(hi >= 0 && lo >= 0 ? hi * 16 + lo : 0);
    }
    return bytes;
}

std::string ParseLiteralToken(std::string_view token) {
    if (token.size() < 2)
        return {};
    const std::string_view body = token.substr(1, token.size() - 2);
    const std::size_t n = body.size();
    std::string out;
    out.reserve(n);
    // The numeric escape of `count` bytes at `at`: all digits, read as a decimal number, at most
    // `limit`; the value is the bytes in base-8 positions.
    auto octal = [&](std::size_t at, std::size_t count, int limit, int& value) {
        if (at + count > n)
            return false;
        int decimal = 0;
        int base8 = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const auto c = static_cast<unsigned char>(body[at + i]);
            if (!IsDigit(c))
                return false;
            decimal = decimal * 10 + (c - '0');
            base8 = base8 * 8 + (c - '0');
        }
        if (decimal > limit)
            return false;
        value = base8 & 0xFF;
        return true;
    };
    std::size_t k = 0;
    while (k < n) {
        const char c = body[k];
        if (c != '\\') {
            out += c;
            ++k;
            continue;
        }
        if (k + 1 >= n) { // a trailing backslash has nothing to escape
            ++k;
            continue;
        }
        const char d = body[k + 1];
        switch (d) {
        case 'b':
            out += '\b';
            k += 2;
            continue;
        case 't':
            out += '\t';
            k += 2;
            continue;
        case 'n':
            out += '\n';
            k += 2;
            continue;
        case 'f':
            out += '\f';
            k += 2;
            continue;
        case 'r':
            out += '\r';
            k += 2;
            continue;
        case '(':
        case ')':
        case '\\':
            out += d;
            k += 2;
            continue;
        case '\r':
            k += 2;
            if (k < n && body[k] == '\n')
                ++k;
            continue;
        case '\n':
            k += 2;
            continue;
        default:
            break;
        }
        int value = 0;
        if (octal(k + 1, 3, 777, value)) {
            out += static_cast<char>(value);
            k += 4;
        } else if (octal(k + 1, 2, 77, value)) {
            out += static_cast<char>(value);
            k += 3;
        } else if (octal(k + 1, 1, 7, value)) {
            out += static_cast<char>(value);
            k += 2;
        } else {
            out += d;
            k += 2;
        }
    }
    return out;
}

void PushChildren(TPDFObject* current, std::vector<TPDFObject*>& pending) {
    switch (current->Class()) {
    case TPDFClass::Stream:
        pending.push_back(static_cast<TPDFStream*>(current)->Dictionary());
        break;
    case TPDFClass::Dictionary: {
        const auto* dict = static_cast<TPDFDictionary*>(current);
        for (int i = dict->Count() - 1; i >= 0; --i)
            pending.push_back(dict->EntryAt(i).second);
        break;
    }
    case TPDFClass::Array: {
        const auto& items = static_cast<TPDFArray*>(current)->Items();
        pending.insert(pending.end(), items.rbegin(), items.rend());
        break;
    }
    default:
        break;
    }
}

bool IsOtherIndirect(const TPDFObject* root, const TPDFObject* value) {
    if (value == root || !value->IsIndirect)
        return false;
    return !(root->IsIndirect && value->ObjNum == root->ObjNum && value->GenNum == root->GenNum);
}

} // namespace korvel
