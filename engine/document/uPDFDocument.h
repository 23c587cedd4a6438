#pragma once
// One PDF document: the file's bytes (mapped from disk or held in memory), its cross-reference
// information turned into indirect-object slots that parse lazily (object streams included),
// the trailer and catalog, the page tree, and the security state. Also the blank one-page
// document.
//
// Exact reading (the default) never repairs: a file loads when its header and its
// cross-reference chain can be read; objects that cannot be read become nulls. Lenient reading
// also reconstructs a file whose cross-reference information cannot be read or points to the
// wrong bytes, by scanning it for objects and trailers, and cuts streams whose `Length` is
// missing or wrong at their `endstream`.

#include <cstdint>
#include <deque>
#include <istream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "file/uPDFFileBytes.h"
#include "file/uPDFObjectHolder.h"
#include "file/uPDFStructure.h"

namespace korvel {

class TPDFDocument;
class TPDFPageTree;
class TPDFSecurityHandler;

// Files of this size or more are refused: offsets in the file format are 32-bit here.
constexpr std::int64_t kMaxFileSize = std::int64_t{2} << 30; // 2 GiB

// One recorded cross-reference entry during loading.
struct TPDFXRefEntry {
    std::int32_t ObjNum = 0;
    std::int32_t GenNum = 0;
    std::int64_t Offset = 0;
    bool InUse = false;
    std::int32_t ContainerObjNum = 0;
    std::int32_t IndexInContainer = 0;
    bool Compressed = false;
};

// Cross-reference entries that can only load as null (an offset outside the file, or other
// numbers at it), kept as runs of numbers instead of slots: their slots are made when asked for.
class TPDFNullEntries {
public:
    void Add(std::int32_t objNum, std::int32_t genNum);
    bool Contains(std::int32_t objNum, std::int32_t genNum) const;
    void Clear() { FRuns.clear(); }

private:
    // generation -> first number -> last number
    std::map<std::int32_t, std::map<std::int64_t, std::int64_t>> FRuns;
};

class TPDFDocument final : public TPDFObjectHolder {
public:
    TPDFDocument();
    ~TPDFDocument();
    TPDFDocument(const TPDFDocument&) = delete;
    TPDFDocument& operator=(const TPDFDocument&) = delete;

    // Reads the whole stream and loads it; on failure the document is left unloaded. Either way
    // the empty password is applied at the end.
    bool LoadFromStream(std::istream& stream);
    bool LoadFromBytes(std::string bytes);
    // Maps a regular file instead of reading it (see TPDFFileBytes); otherwise as
    // LoadFromStream.
    bool LoadFromFile(const std::string& path);
    // Loads FileData again in place (same object, fresh store, slots and page tree) and
    // applies the password; for a password accepted after objects were read with another key.
    bool Reload(const std::string& password);
    void Unload();
    bool NewBlank();

    TPDFIndObj* FindIndirect(std::int32_t objNum, std::int32_t genNum) const override;
    TPDFObject* ObjectOf(TPDFIndObj* slot) override;
    // Also the store's OnResolve.
    TPDFObject* ResolveRef(std::int32_t objNum, std::int32_t genNum) override;
    TPDFIndObj* AddIndirect(TPDFObject* value);

    TPDFDictionary* Catalog();
    TPDFDictionary* PagesRoot();
    TPDFDictionary* InfoDictionary();
    TPDFDictionary* Trailer() const override { return FTrailer; }

    TPDFStructure& Store() { return *FStore; }
    // A store for the short-lived values of one page-text call (operands, entries read from
    // content): its references resolve through this document, and freeing it frees all it
    // holds, so a pass over every page leaves the document's store as the loaded objects made
    // it. It must not outlive the document.
    std::unique_ptr<TPDFStructure> NewScratchStore();
    TPDFPageTree& PageTree() { return *FPageTree; }
    TPDFSecurityHandler& Security() { return *FSecurity; }
    std::string_view FileData() const override { return FFileData.View(); }
    const std::string& HeaderVersion() const { return FHeaderVersion; }
    bool Linearized() const { return FLinearized; }
    const std::vector<std::int32_t>& SectionOffsets() const { return FSectionOffsets; }
    const std::deque<TPDFIndObj>& IndirectObjects() const { return FSlots; }
    std::deque<TPDFIndObj>& IndirectObjects() { return FSlots; }
    // True once an object has been read out of an object stream (with whatever key was applied
    // then); a later password must reload the document to read them with the right key.
    bool ReadCompressedObjects() const { return FReadCompressed; }

    // Lenient reading for the loads that follow (kept across Unload and Reload).
    void SetLenient(bool lenient) { FLenient = lenient; }
    bool Lenient() const { return FLenient; }
    // The objects of the loaded file were found by scanning it (lenient reading only).
    bool Reconstructed() const { return FReconstructed; }

    // Security operations, forwarded to the handler.
    int EncryptionKind();
    void DecryptObject(TPDFIndObj* slot);
    void DecryptGraph(std::int32_t objNum, std::int32_t genNum);

    // Page objects (see TPageScope and TWalkScope). The facade opens a page scope around each
    // of its page calls. ReleasePageObjects, called between pages, frees the page store and
    // unloads those slots: they are read again when next asked for (and decrypted again if they
    // were), so a pass over every page keeps the objects of one page, not of all. Nothing may
    // hold such an object across the release: holders that outlive a page (the page tree's
    // walk) keep theirs with KeepObject. Without a release the page store only grows, and every
    // object stays valid. Walks over many pages (the decryption walk, which reaches every page
    // through `Parent`; the page tree's walks) read into the page store without counting as
    // reads for a page: the objects of every page walked would otherwise be kept when their
    // pages are read.
    // Lets the page objects go, and the resident pages of a mapped file once reads reached a few
    // MiB of it (TPDFFileBytes::ReleaseIfDue); nothing while a page scope is open.
    void ReleasePageObjects() override;
    std::uint64_t PageGeneration() const override { return FPageGeneration; }
    // The object of a slot, read into the document's own store if it was read for a page only
    // (read again from the file, and decrypted again if it was); it then outlives releases.
    TPDFObject* KeepObject(std::int32_t objNum, std::int32_t genNum) override;
    void ForgetDecryptionWalks() override;

private:
    void EnterPageScope(int step) override { FPageScope += step; }
    void EnterWalkScope(int step) override { FWalks += step; }
    // Loads FileData with this password applied after the cross-reference reading and at the
    // end; failure unloads.
    bool LoadWithPassword(const std::string& password);
    // Loads the bytes just read (failure unloads); `read` false: reading them failed.
    bool LoadRead(bool read);
    bool LoadInternal();
    bool ReadHeader();
    bool ReadCrossReferences();
    // The cross-reference information read cannot be trusted: a section failed, an entry
    // points at other numbers, or the root is no dictionary.
    bool NeedsReconstruction(bool readOk);
    // Forgets slots, trailer and everything read from them; keeps the file's bytes.
    void ResetObjects();
    // Scans the whole file for `N G obj` headers (the last definition of a number wins),
    // the members of object streams, and trailers; false when no root is found.
    bool Reconstruct();
    void ReconstructTrailer(const std::vector<std::int64_t>& trailers,
                            const std::vector<std::int32_t>& xrefStreams);
    void AddObjectStreamMembers(const std::vector<std::int32_t>& containers);
    // The catalog found among all objects when no trailer names one; 0 when there is none.
    std::int32_t FindCatalog(const std::vector<std::int32_t>& candidates);
    void BuildSlots(const std::vector<std::int64_t>& boundaries);
    void BuildPageTree();
    void ExamineLinearization();
    // Reads a slot's object into the page store when a page scope is open (and this is not a
    // nested read or a kept object), else into the document's store.
    void LoadObject(TPDFIndObj* slot, bool keep = false);
    // Forgets a loaded slot's object without freeing it.
    static void UnloadSlot(TPDFIndObj* slot);
    std::string CompressedObjectText(TPDFIndObj* slot);
    // Stores a slot (its address stays for the life of the load) and indexes it.
    TPDFIndObj* AddSlot(const TPDFIndObj& slot);
    // The slot recorded for these numbers, without making a slot for a null entry.
    TPDFIndObj* IndexedSlot(std::int32_t objNum, std::int32_t genNum) const;
    // The stream data of a dictionary parsed from an object's text, when the text holds one.
    bool FindStreamData(std::string_view text, const TPDFDictionary* dict, std::string_view& data);
    // The value of another slot met while loading one (an indirect `Length`, an object
    // stream): nullptr once the nesting bound is reached.
    TPDFObject* NestedObject(TPDFIndObj* slot);

    std::unique_ptr<TPDFStructure> FStore;
    std::unique_ptr<TPDFSecurityHandler> FSecurity;
    std::unique_ptr<TPDFPageTree> FPageTree;
    // Objects read for pages (see TPageScope) and the slots that hold them.
    std::unique_ptr<TPDFStructure> FPageStore;
    std::vector<TPDFIndObj*> FPageSlots;
    int FPageScope = 0;
    int FWalks = 0;
    std::uint64_t FPageGeneration = 0;
    TPDFFileBytes FFileData;
    std::string FHeaderVersion;
    TPDFDictionary* FTrailer = nullptr;
    std::deque<TPDFIndObj> FSlots;
    std::unordered_map<std::uint64_t, TPDFIndObj*> FSlotIndex; // (objNum, genNum) -> first slot
    std::vector<TPDFIndObj*> FSlotByNum; // generation-0 numbers -> first slot (dense part)
    std::int32_t FHighestObjNum = 0;
    std::int32_t FHighestNamed = 0; // the highest number any cross-reference entry named
    std::int32_t FFreeNumber = 1;   // no number below it is free (once the highest is taken)
    TPDFNullEntries FNullEntries;
    std::vector<TPDFXRefEntry> FXRefEntries;
    std::vector<std::int32_t> FSectionOffsets;
    bool FLinearized = false;
    bool FReadCompressed = false;
    bool FLenient = false;
    bool FReconstructed = false;
    int FMismatchedEntries = 0; // entries whose offset holds other numbers
    int FLoadDepth = 0;        // nesting of LoadObject through indirect `Length` and object streams
    std::string FLoadPassword; // the password of the load in progress

    // Object streams decoded once per change of their data: decoded bytes and parsed header.
    struct TObjStmCache {
        const TPDFStream* Stream = nullptr;
        std::uint64_t DataVersion = 0;
        std::int64_t HeaderFirst = 0; // the `First` the header was cut at
        std::string Decoded;
        std::vector<double> Header; // the numbers of the header, in order (non-numbers: NaN)
        bool Valid = false;
        std::uint64_t LastUse = 0;
    };
    std::unordered_map<std::int32_t, TObjStmCache> FObjStmCache;
    std::int64_t FObjStmCacheBytes = 0;
    std::uint64_t FObjStmTick = 0;
    // The cache holds all object streams of ordinary files; past this many decoded bytes the
    // least recently used entries are dropped, so a file of many huge object streams cannot pile
    // them up. It equals one stream's decode limit: pages alternating between two big containers
    // (up to half the limit each) do not decode them again and again.
    static constexpr std::int64_t kObjStmCacheBudget = std::int64_t{256} << 20;
};

} // namespace korvel
