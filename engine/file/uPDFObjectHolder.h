#pragma once
// What the layers above the object model need of the owner of a file's indirect objects (the
// document, TPDFDocument): the slots and their objects, objects kept past the release of a
// page's objects, the scopes that decide where reads go, the file's bytes and the trailer. The
// page tree, the page reach and the security handler work through this interface only; the
// owner keeps the slots, and the objects stay owned by its stores.

#include <cstdint>
#include <string_view>

namespace korvel {

class TPDFDictionary;
class TPDFObject;

// One indirect-object slot. (A long document has one per object: fields are ordered for a small
// value.)
class TPDFIndObj {
public:
    TPDFObject* Object = nullptr;
    std::int64_t Offset = 0; // 0-based offset in FileData; 0 for compressed and new objects
    std::int64_t Extent = 0; // bytes up to the next known offset
    std::int32_t ObjNum = 0;
    std::int32_t GenNum = 0;
    std::int32_t StreamObjNum = 0;
    std::int32_t StreamIndex = 0;
    bool Loaded = false;
    bool Decrypted = false;
    // The decryption walk has passed through this object under the current file key (objects
    // read out of object streams are walked through without being decrypted).
    bool Walked = false;
    // The object was decrypted when it was let go with a page's objects: reading it again
    // decrypts it again.
    bool DecryptOnLoad = false;
    // The object was read for a page and let go with it: read again (for another page), it
    // stays, since objects that several pages read (resources, fonts) are worth keeping.
    bool ReadForPage = false;
    // Read into the page store by a walk over the whole document (see TWalkScope): that read
    // does not count as one for a page.
    bool ReadByWalk = false;
    bool Compressed = false;
};

class TPDFObjectHolder {
public:
    // Constant time; the first slot made for these numbers.
    virtual TPDFIndObj* FindIndirect(std::int32_t objNum, std::int32_t genNum) const = 0;
    // The object of a slot, read when it is not loaded yet; nullptr for no slot.
    virtual TPDFObject* ObjectOf(TPDFIndObj* slot) = 0;
    // Never decrypts.
    virtual TPDFObject* ResolveRef(std::int32_t objNum, std::int32_t genNum) = 0;
    // The object of a slot, moved out of the page objects if it was read for a page only; it
    // then outlives releases.
    virtual TPDFObject* KeepObject(std::int32_t objNum, std::int32_t genNum) = 0;
    // Lets the objects read for pages go (nothing while a page scope is open).
    virtual void ReleasePageObjects() = 0;
    // Changes at every release that let objects go: pointers to page objects taken under an
    // older generation must be resolved again.
    virtual std::uint64_t PageGeneration() const = 0;
    virtual std::string_view FileData() const = 0;
    virtual TPDFDictionary* Trailer() const = 0;
    // The file key changed: every object must be walked again by the decryption walk (what was
    // decrypted stays decrypted).
    virtual void ForgetDecryptionWalks() = 0;

    // While a page scope is open, objects read from the file at the top level for the first
    // time go into a store of their own, let go at the next ReleasePageObjects.
    class TPageScope {
    public:
        explicit TPageScope(TPDFObjectHolder& holder) : FHolder(holder) {
            FHolder.EnterPageScope(+1);
        }
        ~TPageScope() { FHolder.EnterPageScope(-1); }
        TPageScope(const TPageScope&) = delete;
        TPageScope& operator=(const TPageScope&) = delete;

    private:
        TPDFObjectHolder& FHolder;
    };
    // Reads made while a walk over many pages runs (the decryption walk, the page tree's walks)
    // go into the page store and do not count as reads for a page.
    class TWalkScope {
    public:
        explicit TWalkScope(TPDFObjectHolder& holder) : FHolder(holder) {
            FHolder.EnterWalkScope(+1);
        }
        ~TWalkScope() { FHolder.EnterWalkScope(-1); }
        TWalkScope(const TWalkScope&) = delete;
        TWalkScope& operator=(const TWalkScope&) = delete;

    private:
        TPDFObjectHolder& FHolder;
    };

protected:
    ~TPDFObjectHolder() = default;
    // +1 when a scope opens, -1 when it closes.
    virtual void EnterPageScope(int step) = 0;
    virtual void EnterWalkScope(int step) = 0;
};

} // namespace korvel
