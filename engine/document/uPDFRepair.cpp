#include "document/uPDFRepair.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>
#include <unordered_map>
#include <utility>

#include "document/uPDFDocument.h"
#include "file/uPDFErrors.h"
#include "file/uPDFExtra.h"
#include "file/uPDFXRef.h"
#include "security/uPDFSecurity.h"

namespace korvel {

namespace {

// White space between the numbers of an object header and its keyword is short in any file
// that was ever written; the bound keeps the backward read of each `obj` constant.
constexpr std::size_t kMaxHeaderSpace = 64;
// Trailers and cross-reference stream dictionaries tried, newest first, and the bytes parsed
// for each: enough for any real trailer, and a file of a million `trailer` keywords costs no
// more than these.
constexpr int kMaxTrailerTries = 64;
constexpr std::size_t kTrailerWindow = 64 * 1024;
// The bytes after an object header looked at for its kind (object stream, cross-reference
// stream, catalog).
constexpr std::size_t kKindWindow = 512;
// Decoded bytes of object streams read for their members, in all.
constexpr std::int64_t kMemberDecodeBudget = std::int64_t{1} << 30;

bool isRegular(unsigned char c) {
    return !IsWhiteSpace(c) && !IsDelimiter(c);
}

// The number whose last digit is before `end`, reading backwards at most 10 digits; the start
// in `start`. Nullopt when there is no digit or more than 10.
std::optional<std::int64_t> numberBefore(std::string_view data, std::size_t end,
                                         std::size_t& start) {
    std::size_t i = end;
    while (i > 0 && end - i < 11 && IsDigit(static_cast<unsigned char>(data[i - 1])))
        --i;
    if (i == end || end - i > 10)
        return std::nullopt;
    start = i;
    std::int64_t value = 0;
    std::from_chars(data.data() + i, data.data() + end, value);
    return value;
}

std::size_t whiteBefore(std::string_view data, std::size_t end) {
    std::size_t i = end;
    while (i > 0 && end - i < kMaxHeaderSpace &&
           IsWhiteSpace(static_cast<unsigned char>(data[i - 1])))
        --i;
    return end - i;
}

// A deep copy of a direct value into the store, depth-bounded (trailer entries are shallow).
TPDFObject* copyValue(TPDFStructure& store, const TPDFObject* value, int depth = 0) {
    if (!value || depth > 16)
        return store.CreateNull();
    switch (value->Class()) {
    case TPDFClass::Boolean:
        return store.CreateBoolean(static_cast<const TPDFBoolean*>(value)->Value);
    case TPDFClass::Numeric:
        return store.CreateNumber(static_cast<const TPDFNumeric*>(value)->Value);
    case TPDFClass::String: {
        const auto* string = static_cast<const TPDFString*>(value);
        return store.CreateString(string->Value, string->IsHex);
    }
    case TPDFClass::Name:
        return store.CreateName(static_cast<const TPDFName*>(value)->Value());
    case TPDFClass::IndRef: {
        const auto* ref = static_cast<const TPDFIndRef*>(value);
        return store.CreateRef(ref->RefObjNum(), ref->RefGenNum());
    }
    case TPDFClass::Array: {
        TPDFArray* out = store.CreateArray();
        for (const TPDFObject* item : static_cast<const TPDFArray*>(value)->Items())
            out->Add(copyValue(store, item, depth + 1));
        return out;
    }
    case TPDFClass::Dictionary: {
        const auto* dict = static_cast<const TPDFDictionary*>(value);
        TPDFDictionary* out = store.CreateDictionary();
        for (int i = 0; i < dict->Count(); ++i) {
            const auto& [key, item] = dict->EntryAt(i);
            out->Put(key->Value(), copyValue(store, item, depth + 1));
        }
        return out;
    }
    default:
        return store.CreateNull();
    }
}

} // namespace

bool TPDFDocument::NeedsReconstruction(bool readOk) {
    if (!readOk || FMismatchedEntries > 0)
        return true;
    // The root must be named and exist; a root held directly in the file must be a
    // dictionary (one in an object stream may need the password first).
    const TPDFIndRef* ref = AsRef(FTrailer->Get("Root", false));
    if (!ref)
        return !AsDictionary(FTrailer->Get("Root", false));
    TPDFIndObj* slot = FindIndirect(ref->RefObjNum(), ref->RefGenNum());
    if (!slot)
        return true;
    return !slot->Compressed && !AsDictionary(ObjectOf(slot));
}

TFileScan ScanForObjects(std::string_view data) {
    // One entry per object number, the last definition met; its bytes run up to the next
    // header or trailer, whatever number that header has. Only the winners are kept, so a
    // file of millions of headers of one number costs one entry.
    struct TWinner {
        std::int32_t GenNum = 0;
        std::int64_t Offset = 0;
        std::int64_t End = 0;
    };
    std::unordered_map<std::int32_t, TWinner> winners;
    std::int32_t previousNum = 0;
    std::int64_t previousOffset = -1;
    auto closePrevious = [&](std::int64_t at) {
        if (previousOffset < 0)
            return;
        const auto it = winners.find(previousNum);
        if (it != winners.end() && it->second.Offset == previousOffset)
            it->second.End = at;
        previousOffset = -1;
    };
    // The newest trailers only: older ones are never tried.
    std::vector<std::int64_t> trailers;
    const auto fileSize = static_cast<std::int64_t>(data.size());

    // `obj` and `trailer` keywords in file order; each costs a bounded look back.
    std::size_t objAt = data.find("obj");
    std::size_t trailerAt = data.find("trailer");
    while (objAt != std::string_view::npos || trailerAt != std::string_view::npos) {
        if (trailerAt < objAt) {
            closePrevious(static_cast<std::int64_t>(trailerAt));
            trailers.push_back(static_cast<std::int64_t>(trailerAt + 7));
            if (trailers.size() > 2 * static_cast<std::size_t>(kMaxTrailerTries))
                trailers.erase(trailers.begin(), trailers.begin() + kMaxTrailerTries);
            trailerAt = data.find("trailer", trailerAt + 7);
            continue;
        }
        const std::size_t pos = objAt;
        objAt = data.find("obj", pos + 3);
        if (pos + 3 < data.size() && isRegular(static_cast<unsigned char>(data[pos + 3])))
            continue;
        std::size_t genEnd = pos - std::min(pos, whiteBefore(data, pos));
        if (genEnd == pos)
            continue;
        std::size_t genStart = 0;
        const std::optional<std::int64_t> gen = numberBefore(data, genEnd, genStart);
        if (!gen)
            continue;
        const std::size_t numEnd = genStart - whiteBefore(data, genStart);
        if (numEnd == genStart)
            continue;
        std::size_t numStart = 0;
        const std::optional<std::int64_t> num = numberBefore(data, numEnd, numStart);
        if (!num || (numStart > 0 && isRegular(static_cast<unsigned char>(data[numStart - 1]))))
            continue;
        if (*num < 1 || *num > std::numeric_limits<std::int32_t>::max() || *gen > 65535)
            continue;
        const auto offset = static_cast<std::int64_t>(numStart);
        closePrevious(offset);
        const auto objNum = static_cast<std::int32_t>(*num);
        winners[objNum] = TWinner{static_cast<std::int32_t>(*gen), offset, fileSize};
        previousNum = objNum;
        previousOffset = offset;
    }

    TFileScan scan;
    scan.Trailers = std::move(trailers);
    scan.Objects.reserve(winners.size());
    for (const auto& [num, w] : winners)
        scan.Objects.push_back(TScannedObject{num, w.GenNum, w.Offset, w.End});
    std::unordered_map<std::int32_t, TWinner>().swap(winners);
    std::sort(scan.Objects.begin(), scan.Objects.end(),
              [](const TScannedObject& x, const TScannedObject& y) { return x.Offset < y.Offset; });
    return scan;
}

bool TPDFDocument::Reconstruct() {
    ResetObjects();
    const std::string_view data = FFileData.View();
    TFileScan scan = ScanForObjects(data);
    if (scan.Objects.empty())
        return false;
    // Slots in file order.
    std::vector<std::int32_t> containers;
    std::vector<std::int32_t> xrefStreams;
    std::vector<std::int32_t> catalogs;
    for (const TScannedObject& object : scan.Objects) {
        const std::int32_t num = object.ObjNum;
        TPDFIndObj slot;
        slot.ObjNum = num;
        slot.GenNum = object.GenNum;
        slot.Offset = object.Offset;
        slot.Extent = object.End - object.Offset;
        AddSlot(slot);
        FHighestNamed = std::max(FHighestNamed, num);
        const std::string_view head =
            data.substr(static_cast<std::size_t>(object.Offset), kKindWindow);
        if (head.find("/ObjStm") != std::string_view::npos)
            containers.push_back(num);
        if (head.find("/XRef") != std::string_view::npos)
            xrefStreams.push_back(num);
        if (head.find("/Catalog") != std::string_view::npos)
            catalogs.push_back(num);
    }
    std::vector<TScannedObject>().swap(scan.Objects);
    FHighestObjNum = std::max(FHighestObjNum, FHighestNamed);
    FReconstructed = true;

    // Encrypt and ID first: the members of object streams may need the key.
    ReconstructTrailer(scan.Trailers, xrefStreams);
    FSecurity->Reset();
    FSecurity->ApplyPassword(FLoadPassword);
    AddObjectStreamMembers(containers);
    if (!AsDictionary(FTrailer->Get("Root"))) {
        const std::int32_t catalog = FindCatalog(catalogs);
        if (catalog == 0)
            return false;
        FTrailer->Put("Root", FStore->CreateRef(catalog, 0));
    }
    FTrailer->Put("Size", FStore->CreateNumber(static_cast<double>(FHighestObjNum) + 1));
    // A password given later must read the object streams again.
    if (FSecurity->EncryptionKind() == 1)
        FReadCompressed = true;
    return true;
}

void TPDFDocument::ReconstructTrailer(const std::vector<std::int64_t>& trailers,
                                      const std::vector<std::int32_t>& xrefStreams) {
    // Candidates newest first: trailers by position, cross-reference streams by their offset.
    struct TCandidate {
        std::int64_t Position;
        std::int64_t Trailer; // -1 for a stream
        std::int32_t ObjNum;
    };
    std::vector<TCandidate> candidates;
    for (std::int64_t t : trailers)
        candidates.push_back(TCandidate{t, t, 0});
    for (std::int32_t n : xrefStreams)
        if (const TPDFIndObj* slot = FindIndirect(n, 0); slot)
            candidates.push_back(TCandidate{slot->Offset, -1, n});
    std::sort(candidates.begin(), candidates.end(),
              [](const TCandidate& a, const TCandidate& b) { return a.Position > b.Position; });
    if (candidates.size() > static_cast<std::size_t>(kMaxTrailerTries))
        candidates.resize(static_cast<std::size_t>(kMaxTrailerTries));

    std::vector<TPDFDictionary*> dicts;
    for (const TCandidate& c : candidates) {
        TPDFDictionary* dict = nullptr;
        if (c.Trailer >= 0) {
            const std::string_view text =
                FFileData.View().substr(static_cast<std::size_t>(c.Trailer), kTrailerWindow);
            try {
                dict = AsDictionary(FStore->Parse(text));
            } catch (...) {
                RethrowExhaustion();
                dict = nullptr;
            }
        } else if (const TPDFStream* stream = AsStream(ObjectOf(FindIndirect(c.ObjNum, 0)))) {
            if (stream->Dictionary()->GetTypeName() == "XRef")
                dict = stream->Dictionary();
        }
        if (dict)
            dicts.push_back(dict);
    }
    // The newest dictionary with a root that resolves to a dictionary gives the root; the
    // other entries come from the newest dictionary that has them.
    for (const char* key : {"Encrypt", "ID", "Info"})
        for (TPDFDictionary* dict : dicts)
            if (TPDFObject* value = dict->Get(key, false)) {
                FTrailer->Put(key, copyValue(*FStore, value));
                break;
            }
    for (TPDFDictionary* dict : dicts) {
        TPDFObject* root = dict->Get("Root", false);
        if (root && AsRef(root)) {
            TPDFIndObj* slot = FindIndirect(AsRef(root)->RefObjNum(), AsRef(root)->RefGenNum());
            // A root in an object stream is checked once the members are known.
            if (slot && (slot->Compressed || AsDictionary(ObjectOf(slot)))) {
                FTrailer->Put("Root", copyValue(*FStore, root));
                return;
            }
        }
    }
    // No root yet: the newest one named at all, checked after the object streams are read.
    for (TPDFDictionary* dict : dicts)
        if (TPDFObject* root = dict->Get("Root", false); root && AsRef(root)) {
            FTrailer->Put("Root", copyValue(*FStore, root));
            return;
        }
}

void TPDFDocument::AddObjectStreamMembers(const std::vector<std::int32_t>& containers) {
    std::int64_t decoded = 0;
    for (std::int32_t number : containers) {
        TPDFIndObj* container = FindIndirect(number, 0);
        TPDFStream* stream = AsStream(ObjectOf(container));
        if (!stream || stream->Dictionary()->GetTypeName() != "ObjStm")
            continue;
        if (!container->Decrypted && FSecurity->EncryptionKind() == 1 &&
            FSecurity->PasswordApplied())
            FSecurity->DecryptObject(container);
        const auto* firstValue = Cast<TPDFNumeric>(stream->Dictionary()->Get("First", false));
        if (!firstValue || firstValue->IntValue() <= 0 || decoded >= kMemberDecodeBudget)
            continue;
        const std::string text = stream->DecodedData();
        decoded += static_cast<std::int64_t>(text.size());
        const std::size_t first =
            std::min<std::size_t>(text.size(), static_cast<std::size_t>(firstValue->IntValue()));
        // The header: pairs of object number and offset, read as plain digits.
        std::int32_t index = 0;
        std::size_t i = 0;
        auto nextNumber = [&]() -> std::optional<std::int64_t> {
            while (i < first && IsWhiteSpace(static_cast<unsigned char>(text[i])))
                ++i;
            std::size_t start = i;
            while (i < first && IsDigit(static_cast<unsigned char>(text[i])))
                ++i;
            if (i == start || i - start > 10)
                return std::nullopt;
            std::int64_t value = 0;
            std::from_chars(text.data() + start, text.data() + i, value);
            return value;
        };
        for (;; ++index) {
            const std::optional<std::int64_t> num = nextNumber();
            const std::optional<std::int64_t> offset = nextNumber();
            if (!num || !offset)
                break;
            if (*num < 1 || *num > std::numeric_limits<std::int32_t>::max())
                continue;
            const auto objNum = static_cast<std::int32_t>(*num);
            TPDFIndObj* slot = IndexedSlot(objNum, 0);
            if (slot && !slot->Compressed && slot->Offset > container->Offset)
                continue; // defined again in the file after this object stream
            if (slot && (slot->Loaded || slot == container))
                continue; // already read (a container, the catalog): keep it
            // A member of an earlier object stream gives way: containers come in file order.
            if (!slot) {
                TPDFIndObj made;
                made.ObjNum = objNum;
                slot = AddSlot(made);
            }
            slot->Compressed = true;
            slot->Offset = 0;
            slot->Extent = 0;
            slot->StreamObjNum = number;
            slot->StreamIndex = index;
            FHighestObjNum = std::max(FHighestObjNum, objNum);
        }
    }
}

std::int32_t TPDFDocument::FindCatalog(const std::vector<std::int32_t>& candidates) {
    auto isCatalog = [](TPDFObject* value) {
        const TPDFDictionary* dict = AsDictionary(value);
        return dict && dict->GetTypeName() == "Catalog" && dict->Get("Pages", false);
    };
    for (auto it = candidates.rbegin(); it != candidates.rend(); ++it)
        if (isCatalog(ObjectOf(FindIndirect(*it, 0))))
            return *it;
    // Catalogs inside object streams: every member is looked at once.
    for (auto it = FSlots.rbegin(); it != FSlots.rend(); ++it)
        if (it->Compressed && isCatalog(ObjectOf(&*it)))
            return it->ObjNum;
    return 0;
}

} // namespace korvel
