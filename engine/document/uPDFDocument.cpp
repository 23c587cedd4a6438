#include "document/uPDFDocument.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <unordered_set>
#include <utility>

#include "file/uPDFErrors.h"
#include "file/uPDFExtra.h"
#include "file/uPDFXRef.h"
#include "pages/uPDFPageTree.h"
#include "platform/uLocalTime.h"
#include "security/uMD5.h"
#include "security/uPDFSecurity.h"

namespace korvel {

namespace {

// Nesting of object loads through indirect `Length` entries and object streams (a stream whose
// Length is a stream whose Length is ...). Real files need two or three levels.
constexpr int kMaxLoadDepth = 32;
// Files are read in chunks of at most this size.
constexpr std::int64_t kReadChunk = std::int64_t{32} << 20;
// The bytes an object header is read from.
constexpr std::int64_t kHeaderBytes = 64;
constexpr std::size_t kHeaderWindow = 1024;

bool isNumberByte(unsigned char c) {
    return IsDigit(c) || c == '.';
}

std::uint64_t slotKey(std::int32_t objNum, std::int32_t genNum) {
    return (std::uint64_t{static_cast<std::uint32_t>(objNum)} << 32) |
           static_cast<std::uint32_t>(genNum);
}

// A run of digits and points read as a 32-bit integer; 0 when it has a point, is empty or does
// not fit.
std::int32_t runToInt32(std::string_view run) {
    std::int32_t value = 0;
    auto [ptr, ec] = std::from_chars(run.data(), run.data() + run.size(), value);
    if (ec != std::errc() || ptr != run.data() + run.size())
        return 0;
    return value;
}

// Reads the numbers of an object header (`N G obj`) as the loader reads them: each a run of
// digits and points after any other bytes.
class TObjectHeaderReader {
public:
    explicit TObjectHeaderReader(std::string_view text) : FText(text) {}
    // The next run as a 32-bit integer (0 when it has a point, is empty or does not fit).
    std::int32_t NextNumber() {
        while (FPos < FText.size() && !isNumberByte(FText[FPos]))
            ++FPos;
        const std::size_t from = FPos;
        while (FPos < FText.size() && isNumberByte(FText[FPos]))
            ++FPos;
        return runToInt32(FText.substr(from, FPos - from));
    }
    // The last run ended with the text: in a window of the file, it may go on past it.
    bool AtEnd() const { return FPos == FText.size(); }
    std::size_t Position() const { return FPos; }

private:
    std::string_view FText;
    std::size_t FPos = 0;
};

// The two numbers that stand at an object's offset, read as the loader reads them, when both
// runs end within a short window; nullopt when the window does not decide. A mismatch here
// means the object cannot load whatever its byte range.
std::optional<std::pair<std::int32_t, std::int32_t>> headerNumbersAt(std::string_view data,
                                                                     std::int64_t offset) {
    constexpr std::size_t kHeaderWindow = 256;
    TObjectHeaderReader header(data.substr(static_cast<std::size_t>(offset), kHeaderWindow));
    const std::int32_t objNum = header.NextNumber();
    if (header.AtEnd())
        return std::nullopt;
    const std::int32_t genNum = header.NextNumber();
    if (header.AtEnd())
        return std::nullopt;
    return std::make_pair(objNum, genNum);
}

// The data of a stream ends at `pos` when `endstream` follows, after white space at most.
bool landsOnEndStream(std::string_view text, std::size_t pos) {
    while (pos < text.size() && IsWhiteSpace(static_cast<unsigned char>(text[pos])))
        ++pos;
    return text.substr(pos, 9) == "endstream";
}

// The local date and time as days since 30 December 1899 with the fraction of the day, in the
// shortest general form with 15 significant digits and "." as the decimal separator (written
// without the process locale).
std::string localDateText() {
    using namespace std::chrono;
    const TLocalTime now = LocalTimeNow();
    const std::int64_t days = (sys_days{now.Date} - sys_days{1899y / December / 30}).count();
    const double seconds = static_cast<double>(now.Time.hours().count()) * 3600.0 +
                           static_cast<double>(now.Time.minutes().count()) * 60.0 +
                           static_cast<double>(now.Time.seconds().count()) +
                           static_cast<double>(now.Time.subseconds().count()) / 1000.0;
    const double value = static_cast<double>(days) + seconds / 86400.0;
    char buffer[64];
    auto [ptr, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    return std::string(buffer, ec == std::errc() ? ptr : buffer);
}

// Reads the rest of the stream from its start; false on a short read or a stream too large.
bool readWholeStream(std::istream& stream, std::string& out) {
    out.clear();
    stream.seekg(0, std::ios::end);
    const std::streamoff end = stream.fail() ? -1 : static_cast<std::streamoff>(stream.tellg());
    stream.clear();
    stream.seekg(0, std::ios::beg);
    if (end >= 0 && !stream.fail()) {
        if (end >= kMaxFileSize)
            return false;
        out.resize(static_cast<std::size_t>(end));
        std::int64_t done = 0;
        while (done < end) {
            const std::int64_t chunk = std::min<std::int64_t>(kReadChunk, end - done);
            stream.read(out.data() + done, static_cast<std::streamsize>(chunk));
            if (stream.gcount() != static_cast<std::streamsize>(chunk))
                return false;
            done += chunk;
        }
        return true;
    }
    // A stream without a size (a pipe): read to its end, within the same bound.
    stream.clear();
    std::string chunk(static_cast<std::size_t>(kReadChunk), '\0');
    for (;;) {
        stream.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const std::streamsize got = stream.gcount();
        out.append(chunk.data(), static_cast<std::size_t>(got));
        if (static_cast<std::int64_t>(out.size()) >= kMaxFileSize)
            return false;
        if (got < static_cast<std::streamsize>(chunk.size()))
            return !stream.bad();
    }
}

// A set of object numbers kept as runs of consecutive numbers: sections list their entries in
// runs, so a section of millions of entries costs one run.
class TNumberRuns {
public:
    // True when the number was not in the set yet.
    bool Insert(std::int32_t number) {
        const std::int64_t n = number;
        auto next = FRuns.upper_bound(n); // the first run starting after n
        if (next != FRuns.begin()) {
            auto prev = std::prev(next);
            if (n <= prev->second)
                return false;
            if (n == prev->second + 1) {
                prev->second = n;
                if (next != FRuns.end() && next->first == n + 1) {
                    prev->second = next->second;
                    FRuns.erase(next);
                }
                return true;
            }
        }
        if (next != FRuns.end() && next->first == n + 1) {
            const std::int64_t last = next->second;
            FRuns.erase(next);
            FRuns.emplace(n, last);
            return true;
        }
        FRuns.emplace_hint(next, n, n);
        return true;
    }

private:
    std::map<std::int64_t, std::int64_t> FRuns; // first -> last
};

} // namespace

void TPDFNullEntries::Add(std::int32_t objNum, std::int32_t genNum) {
    // Each number comes once (the newest section's entry wins), so runs never overlap.
    std::map<std::int64_t, std::int64_t>& runs = FRuns[genNum];
    auto next = runs.upper_bound(objNum);
    if (next != runs.begin()) {
        auto prev = std::prev(next);
        if (objNum <= prev->second)
            return;
        if (objNum == prev->second + 1) {
            prev->second = objNum;
            return;
        }
    }
    runs.emplace_hint(next, objNum, objNum);
}

bool TPDFNullEntries::Contains(std::int32_t objNum, std::int32_t genNum) const {
    const auto gen = FRuns.find(genNum);
    if (gen == FRuns.end())
        return false;
    auto next = gen->second.upper_bound(objNum);
    return next != gen->second.begin() && objNum <= std::prev(next)->second;
}

TPDFDocument::TPDFDocument()
    : FStore(std::make_unique<TPDFStructure>()),
      FSecurity(std::make_unique<TPDFSecurityHandler>(*this)),
      FPageStore(std::make_unique<TPDFStructure>()) {
    FStore->OnResolve = [this](const TPDFIndRef*, std::int32_t objNum, std::int32_t genNum) {
        return ResolveRef(objNum, genNum);
    };
    FPageStore->OnResolve = FStore->OnResolve;
    FStore->OnNewIndirect = [this](TPDFObject* value) {
        const TPDFIndObj* slot = AddIndirect(value);
        return std::make_pair(slot->ObjNum, slot->GenNum);
    };
    Unload();
}

TPDFDocument::~TPDFDocument() {
    // The page tree and the slots point into the store: drop them first.
    FPageTree.reset();
    FSlots.clear();
}

void TPDFDocument::Unload() {
    ResetObjects();
    FObjStmTick = 0;
    FSlotByNum.shrink_to_fit();
    FFileData.Clear();
    FHeaderVersion.clear();
    FLinearized = false;
    FReconstructed = false;
    FLoadDepth = 0;
}

bool TPDFDocument::LoadFromStream(std::istream& stream) {
    Unload();
    bool read = false;
    try {
        std::string bytes;
        read = readWholeStream(stream, bytes);
        if (read)
            FFileData.Assign(std::move(bytes));
    } catch (...) {
        RethrowExhaustion();
        read = false;
    }
    return LoadRead(read);
}

bool TPDFDocument::LoadRead(bool read) {
    if (!read) {
        Unload();
        FSecurity->ApplyPassword(std::string());
        return false;
    }
    return LoadWithPassword(std::string());
}

bool TPDFDocument::LoadFromBytes(std::string bytes) {
    Unload();
    FFileData.Assign(std::move(bytes));
    return LoadWithPassword(std::string());
}

bool TPDFDocument::LoadFromFile(const std::string& path) {
    Unload();
    bool read = false;
    try {
        read = FFileData.Open(path, kMaxFileSize);
    } catch (...) {
        RethrowExhaustion();
        read = false;
    }
    const bool loaded = LoadRead(read);
    // Loading read the header, the cross-reference information and the first page (or, for a
    // damaged file, all of it): those pages of the file are not needed again soon.
    FFileData.ReleasePages();
    return loaded;
}

bool TPDFDocument::Reload(const std::string& password) {
    TPDFFileBytes data = std::move(FFileData);
    const std::string applied = password; // the argument may live in this document
    Unload();
    FFileData = std::move(data);
    return LoadWithPassword(applied);
}

bool TPDFDocument::LoadWithPassword(const std::string& password) {
    FLoadPassword = password;
    bool ok = false;
    try {
        ok = LoadInternal();
    } catch (...) {
        if (IsExhaustion()) {
            Unload(); // nothing half-loaded stays
            FLoadPassword.clear();
            throw;
        }
        ok = false;
    }
    if (!ok)
        Unload();
    try {
        FSecurity->ApplyPassword(password);
    } catch (...) {
        RethrowExhaustion();
    }
    FLoadPassword.clear();
    return ok;
}

bool TPDFDocument::LoadInternal() {
    if (static_cast<std::int64_t>(FFileData.size()) >= kMaxFileSize)
        return false;
    const bool header = ReadHeader();
    if (!header && !FLenient)
        return false;
    const bool read = header && ReadCrossReferences();
    if (FLenient && NeedsReconstruction(read)) {
        if (!Reconstruct()) {
            // Nothing better was found: what the table said stands, when it could be read.
            if (!read)
                return false;
            ResetObjects();
            ReadCrossReferences();
        }
    } else if (!read) {
        return false;
    }
    // The password goes on before anything is read through the page tree: objects read out
    // of object streams now are decrypted with their container, under the right key.
    FSecurity->ApplyPassword(FLoadPassword);
    BuildPageTree();
    ExamineLinearization();
    return true;
}

bool TPDFDocument::ReadHeader() {
    const std::string_view head = FFileData.View().substr(0, kHeaderWindow);
    auto versionRun = [&](std::size_t from, std::size_t limit) {
        std::size_t end = from;
        while (end < head.size() && end - from < limit && isNumberByte(head[end]))
            ++end;
        return head.substr(from, end - from);
    };
    bool found = false;
    std::string_view version;
    const std::size_t pdf = head.find("%PDF-");
    if (pdf != std::string_view::npos) {
        found = true;
        version = versionRun(pdf + 5, 10);
    }
    const std::size_t ps = head.find("%!PS-Adobe-");
    if (ps != std::string_view::npos) {
        const std::size_t inner = head.substr(ps + 11, 20).find("PDF-");
        if (inner != std::string_view::npos) {
            found = true;
            version = versionRun(ps + 11 + inner + 4, head.size());
        }
    }
    // Only digits and points are in the run: it is a number text when it has one point at most.
    if (!found || std::count(version.begin(), version.end(), '.') > 1)
        return false;
    FHeaderVersion = std::string(version);
    return true;
}

bool TPDFDocument::ReadCrossReferences() {
    TXRStringStream stream(FFileData.View());
    TPDFXRefReader reader(stream);
    FTrailer = FStore->CreateDictionary();
    FXRefEntries.clear();
    FXRefEntries.reserve(1000);
    TNumberRuns seen;
    bool trailerTaken = false;
    // Header numbers at the offsets entries name, parsed once per offset: many entries may
    // share one offset, and only the one whose numbers stand there can ever load.
    std::unordered_map<std::int64_t, std::optional<std::pair<std::int32_t, std::int32_t>>> headers;
    const auto fileSize = static_cast<std::int64_t>(FFileData.size());

    reader.OnEntry = [&](std::int32_t objNum, std::int32_t value2, char type, std::int32_t value3) {
        // Free and unknown entries neither record nor hide anything; newer sections come
        // first, so the first `n` or `c` entry of a number wins.
        if (type != 'n' && type != 'c')
            return;
        if (!seen.Insert(objNum))
            return;
        FHighestNamed = std::max(FHighestNamed, objNum);
        if (type == 'n') {
            // Entries that can only load as null are not recorded: an offset outside the file,
            // or one where other numbers stand. (A hostile stream of one-byte entries would
            // otherwise make millions of slots out of a few kilobytes.)
            if (value2 <= 0 || value2 >= fileSize) {
                FNullEntries.Add(objNum, value3);
                return;
            }
            auto [it, added] = headers.try_emplace(value2);
            if (added) {
                // Each header touches a page of a mapped file: they are given back as the
                // check goes, or the whole file would be resident by its end.
                FFileData.NoteRead(value2, kHeaderBytes);
                FFileData.ReleaseIfDue();
                it->second = headerNumbersAt(FFileData.View(), value2);
            }
            if (it->second && *it->second != std::make_pair(objNum, value3)) {
                ++FMismatchedEntries;
                FNullEntries.Add(objNum, value3);
                return;
            }
        }
        TPDFXRefEntry entry;
        entry.ObjNum = objNum;
        entry.InUse = true;
        if (type == 'n') {
            entry.Offset = value2;
            entry.GenNum = value3;
        } else {
            entry.Compressed = true;
            entry.ContainerObjNum = value2;
            entry.IndexInContainer = value3;
        }
        FXRefEntries.push_back(entry);
    };
    reader.OnTrailer = [&](const std::string& text) {
        if (trailerTaken)
            return;
        trailerTaken = true;
        if (TPDFDictionary* dict = AsDictionary(FStore->Parse(text))) {
            for (const char* key : {"Prev", "Type", "W", "Index", "Length", "Filter"})
                dict->Remove(key);
            FTrailer = dict;
        }
    };
    reader.OnSection = [&](std::int32_t offset) { FSectionOffsets.push_back(offset); };

    const bool ok = reader.ReadSection(reader.FindStartXRef());
    // Offsets of entries left out still end the byte ranges of the objects before them.
    std::vector<std::int64_t> boundaries;
    boundaries.reserve(headers.size());
    for (const auto& [offset, header] : headers)
        boundaries.push_back(offset);
    BuildSlots(boundaries);
    // New objects are numbered above every number the file named, recorded or not.
    if (!FSlots.empty() || FHighestNamed > 0)
        FHighestObjNum = std::max(FHighestObjNum, FHighestNamed);
    return ok;
}

void TPDFDocument::BuildSlots(const std::vector<std::int64_t>& boundaries) {
    // All known offsets in file order: a section before the objects at the same offset, and
    // objects at one offset by number. An object's bytes run up to the next known offset.
    struct Key {
        std::int64_t Offset;
        int Kind; // 0 section, 1 entry
        std::int32_t ObjNum;
        std::size_t Entry;
    };
    std::vector<Key> keys;
    constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);
    keys.reserve(FSectionOffsets.size() + FXRefEntries.size() + boundaries.size());
    for (std::int32_t offset : FSectionOffsets)
        keys.push_back(Key{offset, 0, 0, 0});
    for (std::int64_t offset : boundaries)
        keys.push_back(Key{offset, 1, 0, kNoEntry});
    for (std::size_t i = 0; i < FXRefEntries.size(); ++i) {
        const TPDFXRefEntry& e = FXRefEntries[i];
        keys.push_back(Key{e.Compressed ? 0 : e.Offset, 1, e.ObjNum, i});
    }
    std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        if (a.Offset != b.Offset)
            return a.Offset < b.Offset;
        if (a.Kind != b.Kind)
            return a.Kind < b.Kind;
        return a.ObjNum < b.ObjNum;
    });

    const auto size = static_cast<std::int64_t>(FFileData.size());
    // The end of an object is the next greater known offset: when two entries name the same
    // offset, both get the bytes there (the one whose text carries its numbers loads) instead
    // of all but the last getting none.
    std::size_t next = 0;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (keys[k].Kind != 1 || keys[k].Entry == kNoEntry)
            continue;
        const TPDFXRefEntry& e = FXRefEntries[keys[k].Entry];
        if (!e.InUse || e.GenNum < 0)
            continue;
        next = std::max(next, k + 1);
        while (next < keys.size() && keys[next].Offset <= keys[k].Offset)
            ++next;
        const std::int64_t end = next < keys.size() ? keys[next].Offset : size;
        TPDFIndObj slot;
        slot.ObjNum = e.ObjNum;
        slot.GenNum = e.GenNum;
        slot.Offset = e.Compressed ? 0 : e.Offset;
        // Ranges are cut at the end of the file; a range outside it is empty.
        if (slot.Offset > 0 && slot.Offset < size)
            slot.Extent = std::max<std::int64_t>(0, std::min(end, size) - slot.Offset);
        slot.Compressed = e.Compressed;
        slot.StreamObjNum = e.ContainerObjNum;
        slot.StreamIndex = e.IndexInContainer;
        AddSlot(slot);
    }
    FXRefEntries.clear();
    FXRefEntries.shrink_to_fit();
}

TPDFIndObj* TPDFDocument::AddSlot(const TPDFIndObj& slot) {
    TPDFIndObj* raw = &FSlots.emplace_back(slot);
    // The first slot of a number wins. Generation-0 numbers up to a few times the slot count
    // are indexed by position (most files number their objects densely from 1); the rest, and
    // hostile numbers, by hash.
    if (!IndexedSlot(raw->ObjNum, raw->GenNum)) {
        const std::size_t dense = 4 * (FSlots.size() - 1) + 1024; // the slots before this one
        if (raw->GenNum == 0 && raw->ObjNum >= 0 && static_cast<std::size_t>(raw->ObjNum) < dense) {
            if (FSlotByNum.size() <= static_cast<std::size_t>(raw->ObjNum))
                FSlotByNum.resize(static_cast<std::size_t>(raw->ObjNum) + 1);
            FSlotByNum[static_cast<std::size_t>(raw->ObjNum)] = raw;
        } else {
            FSlotIndex.emplace(slotKey(raw->ObjNum, raw->GenNum), raw);
        }
    }
    if (FSlots.size() == 1 || raw->ObjNum > FHighestObjNum)
        FHighestObjNum = raw->ObjNum;
    return raw;
}

void TPDFDocument::BuildPageTree() {
    FPageTree = std::make_unique<TPDFPageTree>(PagesRoot(), this);
    FPageTree->OnLocatedPage = [this](std::int32_t objNum, std::int32_t genNum) {
        DecryptGraph(objNum, genNum);
    };
    FPageTree->SelectPage(1);
}

void TPDFDocument::ExamineLinearization() {
    const std::string_view head = FFileData.View().substr(0, kHeaderWindow);
    if (head.find("/Linearized") == std::string_view::npos)
        return;
    const std::size_t obj = head.find(" obj");
    if (obj == std::string_view::npos)
        return;
    std::size_t i = obj;
    while (i > 0 && IsDigit(head[i - 1]))
        --i;
    const std::int32_t gen = runToInt32(head.substr(i, obj - i));
    while (i > 0 && !IsDigit(head[i - 1]))
        --i;
    const std::size_t numEnd = i;
    while (i > 0 && IsDigit(head[i - 1]))
        --i;
    const std::int32_t num = runToInt32(head.substr(i, numEnd - i));
    TPDFDictionary* dict = AsDictionary(ObjectOf(FindIndirect(num, gen)));
    if (dict && dict->IndexOfKey("Linearized") >= 0) {
        FLinearized = true;
        dict->Clear();
    }
}

std::unique_ptr<TPDFStructure> TPDFDocument::NewScratchStore() {
    auto scratch = std::make_unique<TPDFStructure>();
    scratch->OnResolve = [this](const TPDFIndRef*, std::int32_t objNum, std::int32_t genNum) {
        return ResolveRef(objNum, genNum);
    };
    return scratch;
}

TPDFIndObj* TPDFDocument::IndexedSlot(std::int32_t objNum, std::int32_t genNum) const {
    if (genNum == 0 && objNum >= 0 && static_cast<std::size_t>(objNum) < FSlotByNum.size())
        if (TPDFIndObj* slot = FSlotByNum[static_cast<std::size_t>(objNum)])
            return slot;
    const auto it = FSlotIndex.find(slotKey(objNum, genNum));
    return it == FSlotIndex.end() ? nullptr : it->second;
}

TPDFIndObj* TPDFDocument::FindIndirect(std::int32_t objNum, std::int32_t genNum) const {
    if (TPDFIndObj* slot = IndexedSlot(objNum, genNum))
        return slot;
    if (!FNullEntries.Contains(objNum, genNum))
        return nullptr;
    // An entry that could only load as null gets its slot when first asked for.
    TPDFIndObj slot;
    slot.ObjNum = objNum;
    slot.GenNum = genNum;
    return const_cast<TPDFDocument*>(this)->AddSlot(slot);
}

TPDFObject* TPDFDocument::ObjectOf(TPDFIndObj* slot) {
    if (!slot)
        return nullptr;
    if (!slot->Loaded)
        LoadObject(slot);
    return slot->Object;
}

TPDFObject* TPDFDocument::ResolveRef(std::int32_t objNum, std::int32_t genNum) {
    return ObjectOf(FindIndirect(objNum, genNum));
}

TPDFObject* TPDFDocument::NestedObject(TPDFIndObj* slot) {
    if (!slot)
        return nullptr;
    if (slot->Loaded)
        return slot->Object;
    // Beyond the bound the slot stays unloaded: a later top-level request still loads it.
    if (FLoadDepth >= kMaxLoadDepth)
        return nullptr;
    return ObjectOf(slot);
}

void TPDFDocument::UnloadSlot(TPDFIndObj* slot) {
    slot->Loaded = false;
    slot->Object = nullptr;
    slot->DecryptOnLoad = slot->DecryptOnLoad || slot->Decrypted;
    slot->Decrypted = false;
}

void TPDFDocument::ReleasePageObjects() {
    if (FPageScope > 0)
        return;
    if (!FPageSlots.empty() || FPageStore->ObjectCount() > 0) {
        for (TPDFIndObj* slot : FPageSlots)
            if (slot->Loaded && slot->Object && slot->Object->Owner == FPageStore.get()) {
                UnloadSlot(slot);
                if (!slot->ReadByWalk)
                    slot->ReadForPage = true;
                slot->ReadByWalk = false;
            }
        FPageSlots.clear();
        FPageStore->Reset();
        ++FPageGeneration;
    }
    FFileData.ReleaseIfDue();
}

TPDFObject* TPDFDocument::KeepObject(std::int32_t objNum, std::int32_t genNum) {
    TPDFIndObj* slot = FindIndirect(objNum, genNum);
    TPDFObject* value = ObjectOf(slot);
    if (!value || value->Owner != FPageStore.get())
        return value;
    // The copy in the page store stays valid until the release; nothing made from it is lost,
    // since reading leaves objects as the file has them (decryption aside, done again).
    UnloadSlot(slot);
    LoadObject(slot, true);
    return slot->Object;
}

void TPDFDocument::LoadObject(TPDFIndObj* slot, bool keep) {
    // Set first: a slot met again while it is being loaded answers what it holds (nothing).
    slot->Loaded = true;
    struct DepthGuard {
        int& Depth;
        explicit DepthGuard(int& depth) : Depth(depth) { ++Depth; }
        ~DepthGuard() { --Depth; }
    } guard(FLoadDepth);
    // Values read at a nested level (an indirect `Length`, an object stream) are few and
    // shared by many pages: they stay in the document's store.
    const bool forPage =
        FPageScope > 0 && FLoadDepth == 1 && !keep && (FWalks > 0 || !slot->ReadForPage);
    TPDFStructure& store = forPage ? *FPageStore : *FStore;

    TPDFObject* value = nullptr;
    try {
        // The object's bytes are read in place; only an object out of an object stream needs
        // text of its own.
        std::string compressedText;
        std::string_view t;
        if (slot->Compressed) {
            // Whatever comes out (a null too) depends on the key applied now.
            FReadCompressed = true;
            compressedText = CompressedObjectText(slot);
            t = compressedText;
        } else if (slot->Offset > 0) {
            const auto size = static_cast<std::int64_t>(FFileData.size());
            if (slot->Offset < size && slot->Extent > 0) {
                FFileData.NoteRead(slot->Offset, std::min(slot->Extent, size - slot->Offset));
                t = FFileData.View().substr(
                    static_cast<std::size_t>(slot->Offset),
                    static_cast<std::size_t>(std::min(slot->Extent, size - slot->Offset)));
            }
        }
        if (slot->Object) {
            slot->Object->Owner->Release(slot->Object, true);
            slot->Object = nullptr;
        }
        if (slot->Compressed)
            slot->Decrypted = true; // its object stream was decrypted as a whole

        TObjectHeaderReader header(t);
        const std::int32_t objNum = header.NextNumber();
        const std::int32_t genNum = header.NextNumber();
        std::size_t i = header.Position();
        if (objNum == slot->ObjNum && genNum == slot->GenNum) {
            while (i < t.size() && IsWhiteSpace(t[i]))
                ++i;
            std::string_view keyword;
            if (t.size() - i >= 3 && std::tolower(static_cast<unsigned char>(t[i])) == 'o' &&
                std::tolower(static_cast<unsigned char>(t[i + 1])) == 'b' &&
                std::tolower(static_cast<unsigned char>(t[i + 2])) == 'j') {
                keyword = t.substr(i, 3);
                i += 3;
            } else {
                const std::size_t from = i;
                while (i < t.size() && !IsWhiteSpace(t[i]))
                    ++i;
                keyword = t.substr(from, i - from);
            }
            while (i < t.size() && IsWhiteSpace(t[i]))
                ++i;
            if (keyword == "obj") {
                const std::string_view rest = t.substr(i);
                value = store.Parse(rest);
                if (TPDFDictionary* dict = AsDictionary(value)) {
                    std::string_view data;
                    if (FindStreamData(rest, dict, data)) {
                        // Data inside the file is read in place: the file's bytes live as
                        // long as the store. Text made elsewhere (an object stream's) is copied.
                        const char* file = FFileData.View().data();
                        if (data.data() >= file &&
                            data.data() + data.size() <= file + FFileData.size()) {
                            value = store.CreateStreamView(dict, data);
                        } else {
                            value = store.CreateStream(dict, std::string(data));
                        }
                    }
                }
            }
        }
    } catch (...) {
        RethrowExhaustion();
        value = nullptr;
    }
    if (!value)
        value = store.CreateNull();
    value->MarkIndirect(slot->ObjNum, slot->GenNum);
    slot->Object = value;
    if (forPage) {
        FPageSlots.push_back(slot);
        slot->ReadByWalk = FWalks > 0;
    }
    if (slot->DecryptOnLoad) {
        slot->DecryptOnLoad = false;
        FSecurity->DecryptObject(slot);
    }
}

bool TPDFDocument::FindStreamData(std::string_view text, const TPDFDictionary* dict,
                                  std::string_view& data) {
    if (text.find("stream") == std::string_view::npos ||
        text.find("endstream") == std::string_view::npos)
        return false;
    // The dictionary was parsed from this very text: its end position says where to look.
    const std::size_t from = std::min<std::size_t>(
        text.size(), dict->EndPosition > 0 ? static_cast<std::size_t>(dict->EndPosition - 1) : 0);
    const std::size_t keyword = text.find("stream", from);
    if (keyword == std::string_view::npos)
        return false;
    std::size_t j = keyword + 6;
    while (j < text.size() && (text[j] == ' ' || text[j] == 7))
        ++j;
    if (j >= text.size())
        return false;
    std::size_t start;
    if (text[j] == '\n')
        start = j + 1;
    else if (text[j] == '\r')
        start = j + 1 < text.size() && text[j + 1] == '\n' ? j + 2 : j + 1;
    else
        return false;

    TPDFObject* length = dict->Get("Length", false);
    if (const TPDFIndRef* ref = AsRef(length))
        length = NestedObject(FindIndirect(ref->RefObjNum(), ref->RefGenNum()));
    const auto* number = Cast<TPDFNumeric>(length);
    const auto available = static_cast<std::int64_t>(text.size() - start);
    if (number) {
        const std::int64_t count = std::clamp<std::int64_t>(number->IntValue(), 0, available);
        data = text.substr(start, static_cast<std::size_t>(count));
        if (!FLenient || landsOnEndStream(text, start + static_cast<std::size_t>(count)))
            return true;
    } else if (!FLenient) {
        return false;
    }
    // Lenient reading: a missing, odd or wrong `Length` gives way to the first `endstream`
    // after the data starts, less the line end before it.
    std::size_t end = text.find("endstream", start);
    if (end == std::string_view::npos)
        return number != nullptr; // no end to cut at: keep what Length said
    if (end > start && text[end - 1] == '\n')
        --end;
    if (end > start && text[end - 1] == '\r')
        --end;
    data = text.substr(start, end - start);
    return true;
}

TPDFIndObj* TPDFDocument::AddIndirect(TPDFObject* value) {
    if (!value)
        value = FStore->CreateNull();
    std::int64_t highest = FSlots.empty() ? 0 : FHighestObjNum;
    std::int32_t objNum;
    if (highest < std::numeric_limits<std::int32_t>::max()) {
        objNum = static_cast<std::int32_t>(highest + 1);
    } else {
        // No number is left above the highest: take the lowest one without a slot. Slots are
        // never removed, so the search goes on from where the last one ended.
        while (FindIndirect(FFreeNumber, 0))
            ++FFreeNumber;
        objNum = FFreeNumber;
    }
    TPDFIndObj slot;
    slot.ObjNum = objNum;
    slot.GenNum = 0;
    slot.Object = value;
    slot.Loaded = true;
    // A value made in memory is plain: the security handler must not run RC4 over it.
    slot.Decrypted = true;
    value->MarkIndirect(objNum, 0);
    TPDFIndObj* raw = AddSlot(slot);
    highest = FHighestObjNum;
    FTrailer->Put("Size", FStore->CreateNumber(static_cast<double>(highest + 1)));
    return raw;
}

TPDFDictionary* TPDFDocument::Catalog() {
    TPDFDictionary* root = AsDictionary(FTrailer->Get("Root"));
    if (!root) {
        root = FStore->CreateDictionary();
        const TPDFIndObj* slot = AddIndirect(root);
        FTrailer->Put("Root", FStore->CreateRef(slot->ObjNum, slot->GenNum));
    }
    return root;
}

TPDFDictionary* TPDFDocument::PagesRoot() {
    return AsDictionary(Catalog()->Get("Pages"));
}

TPDFDictionary* TPDFDocument::InfoDictionary() {
    TPDFDictionary* info = AsDictionary(FTrailer->Get("Info"));
    if (!info) {
        info = FStore->CreateDictionary();
        const TPDFIndObj* slot = AddIndirect(info);
        FTrailer->Put("Info", FStore->CreateRef(slot->ObjNum, slot->GenNum));
    }
    return info;
}

bool TPDFDocument::NewBlank() {
    Unload();
    FHeaderVersion = "1.4";
    TPDFStructure& s = *FStore;

    TPDFDictionary* pages = s.CreateDictionary();
    pages->Put("Type", s.CreateName("Pages"));
    pages->Put("Count", s.CreateNumber(1));
    TPDFArray* kids = s.CreateArray();
    kids->Add(s.CreateRef(2, 0));
    pages->Put("Kids", kids);
    AddIndirect(pages);

    TPDFDictionary* page = s.CreateDictionary();
    page->Put("Type", s.CreateName("Page"));
    page->Put("Parent", s.CreateRef(1, 0));
    page->Put("MediaBox", s.CreateArray(std::vector<std::int32_t>{0, 0, 612, 792}));
    page->Put("CropBox", s.CreateArray(std::vector<std::int32_t>{0, 0, 612, 792}));
    TPDFDictionary* resources = s.CreateDictionary();
    TPDFArray* procSet = s.CreateArray();
    for (const char* name : {"PDF", "Text", "ImageB", "ImageC", "ImageI"})
        procSet->Add(s.CreateName(name));
    resources->Put("ProcSet", procSet);
    page->Put("Resources", resources);
    AddIndirect(page);

    TPDFDictionary* catalog = s.CreateDictionary();
    catalog->Put("Type", s.CreateName("Catalog"));
    catalog->Put("Pages", s.CreateRef(1, 0));
    AddIndirect(catalog);

    AddIndirect(s.CreateDictionary());

    FTrailer->Put("Root", s.CreateRef(3, 0));
    FTrailer->Put("Info", s.CreateRef(4, 0));
    const std::string digest = MD5(localDateText());
    TPDFArray* id = s.CreateArray();
    id->Add(s.CreateString(digest, true));
    id->Add(s.CreateString(digest, true));
    FTrailer->Put("ID", id);

    BuildPageTree();
    // The blank page is ready for drawing at once: its marked stream is object 5.
    FPageTree->NormaliseContents();
    return true;
}

void TPDFDocument::ResetObjects() {
    FObjStmCache.clear();
    FObjStmCacheBytes = 0;
    FPageTree.reset();
    FSlots.clear();
    FSlotIndex.clear();
    FSlotByNum.clear();
    FHighestObjNum = 0;
    FHighestNamed = 0;
    FFreeNumber = 1;
    FNullEntries.Clear();
    FXRefEntries.clear();
    FSectionOffsets.clear();
    FPageSlots.clear();
    FPageStore->Reset();
    ++FPageGeneration;
    FStore->Reset();
    FTrailer = FStore->CreateDictionary();
    FReadCompressed = false;
    FMismatchedEntries = 0;
    FSecurity->Reset();
    FPageTree = std::make_unique<TPDFPageTree>(nullptr);
}

int TPDFDocument::EncryptionKind() {
    return FSecurity->EncryptionKind();
}

void TPDFDocument::DecryptObject(TPDFIndObj* slot) {
    FSecurity->DecryptObject(slot);
}

void TPDFDocument::DecryptGraph(std::int32_t objNum, std::int32_t genNum) {
    const TWalkScope walk(*this);
    if (!FSecurity->PasswordApplied() || EncryptionKind() != 1)
        return;
    // Objects still to visit, and within one object the direct values still to walk. The walk
    // passes through objects that are already decrypted (those read out of object streams
    // among them) and into stream dictionaries, since what they reference may still be
    // encrypted; the Walked mark keeps every object to one visit per file key.
    std::vector<std::pair<std::int32_t, std::int32_t>> objects{{objNum, genNum}};
    std::vector<TPDFObject*> values;
    std::unordered_set<const TPDFObject*> seen;
    while (!objects.empty()) {
        auto [num, gen] = objects.back();
        objects.pop_back();
        TPDFIndObj* slot = FindIndirect(num, gen);
        if (!slot || slot->Walked)
            continue;
        slot->Walked = true;
        FSecurity->DecryptObject(slot);
        TPDFObject* root = ObjectOf(slot);
        values.assign(1, root);
        while (!values.empty()) {
            TPDFObject* current = values.back();
            values.pop_back();
            if (!current)
                continue;
            if (root && IsOtherIndirect(root, current)) {
                objects.emplace_back(current->ObjNum, current->GenNum);
                continue;
            }
            if (!seen.insert(current).second)
                continue;
            switch (current->Class()) {
            case TPDFClass::IndRef: {
                const auto* ref = static_cast<TPDFIndRef*>(current);
                objects.emplace_back(ref->RefObjNum(), ref->RefGenNum());
                break;
            }
            default:
                PushChildren(current, values);
                break;
            }
        }
    }
}

void TPDFDocument::ForgetDecryptionWalks() {
    for (TPDFIndObj& slot : FSlots)
        slot.Walked = false;
}

} // namespace korvel
