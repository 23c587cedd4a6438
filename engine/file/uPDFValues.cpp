#include "file/uPDFValues.h"

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

// Dictionaries up to this many entries are searched linearly; larger ones build a key index.
constexpr int kLinearSearchEntries = 8;

constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendInt(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto res = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, res.ptr);
}

// A live container's children are all held by it, so releasing them keeps them and
// ReleaseTree comes down to releasing the container itself. Only below containers that were
// already released can children go; that walk uses an explicit stack and enters each released
// container once, so neither depth nor cycles matter.
void releaseTreeOf(TPDFObject* root) {
    TPDFStructure* store = root->Owner;
    if (!store)
        return;
    if (root->IsLive() || !IsContainer(root)) {
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
        ForEachChild(v, [&](TPDFObject* c) { f.Children.emplace_back(c, tree); });
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
        if (tree && IsContainer(child) && !child->IsLive()) {
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
    if (!IsContainer(child)) {
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
