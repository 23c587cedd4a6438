#pragma once
// The standard security handler: revisions 2 to 4 (RC4 or AES-128 through crypt filters, keys
// of 40 to 128 bits) and 5 and 6 (AES-256). Recognises the encryption of a document, checks
// user and owner passwords, derives object keys, and decrypts strings and streams in place:
// a service of keys and decryption for the holder of the objects (the document), which decides
// what to decrypt when. Its state lives with one document. Passwords arrive as UTF-8 text (bytes
// that are not UTF-8 are taken as they are).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

namespace korvel {

class TPDFObjectHolder;
class TPDFIndObj;
class TPDFObject;
class TPDFStream;

// How a crypt filter protects data.
enum class TCryptMethod : std::uint8_t { None, RC4, AESV2, AESV3 };

// The password bytes of revisions 2 to 4: UTF-8 text converted to Windows-1252; nullopt when a
// character has no Windows-1252 byte. Text that is not UTF-8 is returned unchanged.
std::optional<std::string> PasswordToCp1252(std::string_view password);
// The password bytes of revisions 5 and 6: SASLprep of the UTF-8 text where it succeeds (the
// text itself otherwise), cut to 127 bytes.
std::string PasswordForAES256(std::string_view password);
// The password hash of revisions 5 (plain SHA-256) and 6 (the iterated SHA-2/AES hash): 32
// bytes of password, salt and, for the owner, the 48 bytes of `U`.
std::string HashV5(std::string_view password, std::string_view salt, std::string_view userData,
                   int revision);

class TPDFSecurityHandler {
public:
    explicit TPDFSecurityHandler(TPDFObjectHolder& holder) : FHolder(holder) {}

    // Forgets everything read from `Encrypt` and any applied password.
    void Reset();

    // 0 not encrypted, 1 supported standard handler, 2 anything else.
    int EncryptionKind();
    // 40 for V 1, `Length` for V 2 and 4 (0 when missing), 256 for V 5; 0 when unsupported.
    int KeyLength();
    bool CheckUserPassword(const std::string& password);
    bool CheckOwnerPassword(const std::string& password);
    // A password that passes either check becomes the applied one and sets the file key (a
    // new key tells the holder to walk its objects again); when both fail, no password counts
    // as applied.
    void ApplyPassword(const std::string& password);
    // The RC4 key of an object.
    std::string ObjectKey(std::int32_t objNum, std::int32_t genNum) const;
    // The key of an object for a method: RC4's, the AES-128 one (salted), or the file key.
    std::string ObjectKeyFor(std::int32_t objNum, std::int32_t genNum, TCryptMethod method) const;
    // Decrypts strings and stream data under one key, recursively through dictionaries and
    // arrays, each with the method the document gives it; references are not followed.
    void DecryptValue(const std::string& key, TPDFObject* value);
    // Decrypts one indirect object once; nothing while no password is applied.
    void DecryptObject(TPDFIndObj* slot);

    bool PasswordApplied() const { return FPasswordApplied; }
    // AES-256 files: whether Perms, decrypted with the file key of the last password checked,
    // agrees with P. It does not decide whether the file is read.
    bool PermsValid() const { return FPermsValid; }
    const std::string& AppliedPassword() const { return FAppliedPassword; }
    const std::string& FileKey() const { return FFileKey; }
    // `P` as a signed 32-bit integer (bit tests); 0 when missing or unsupported.
    std::int32_t Permissions();
    int Revision();
    int Version();
    TCryptMethod StringMethod();
    TCryptMethod StreamMethod();
    // The method for one stream: its own `Crypt` filter, metadata left in clear, or `StmF`.
    TCryptMethod MethodOfStream(const TPDFStream& stream);

private:
    // Forgets what was read from `Encrypt` (not the applied password).
    void ClearEncryptFields();
    void ReadEncrypt();
    void EnsureRead();
    // `P` read again from the bytes of the Encrypt object, for values beyond 32 signed bits.
    std::int32_t RawPermissions(const TPDFIndObj& slot) const;
    // The computed U against the stored one: whole for 40-bit keys, else the first 16 bytes.
    bool MatchesUserEntry(const std::string& computedU) const;
    // The shared key computation; returns the computed U and sets FWorkKey. A computation
    // made before under the same Encrypt entries is answered from memory.
    std::string ComputeKey(const std::string& userPassword, const std::string& ownerPassword,
                           const std::string& workO, const std::string& workU);
    std::string ComputeKeyAfresh(const std::string& userPassword,
                                 const std::string& ownerPassword, const std::string& workO,
                                 const std::string& workU, const std::string& id0);
    // HashV5 with the file's revision, answered from memory when asked before.
    std::string PasswordHash(std::string_view password, std::string_view salt,
                             std::string_view userData);
    void ForgetComputations();
    std::string ID0();
    // Revisions 5 and 6: the user or owner check of already prepared password bytes.
    bool CheckAES256(const std::string& password, bool owner);
    // The file's password bytes for the revision; nullopt when the text cannot be one.
    std::optional<std::string> PasswordBytes(const std::string& password) const;
    // A crypt filter by name: Identity, or an entry of `CF`; nullopt when unknown.
    std::optional<TCryptMethod> FilterMethod(const std::string& name) const;
    template <typename KeyOf> void DecryptWith(const KeyOf& keyOf, TPDFObject* value);

    TPDFObjectHolder& FHolder;
    bool FSecurityRead = false;
    bool FEncryptPresent = false;
    int FVersion = 0;
    int FRevision = 0;
    int FKeyBits = 0;
    std::string FOwnerEntry;
    std::string FUserEntry;
    std::int32_t FPermissions = 0;
    bool FPasswordApplied = false;
    std::string FAppliedPassword;
    std::string FFileKey;
    std::string FWorkKey;
    bool FRev3Mode = false;
    std::uint32_t FPermissionValue = 0;
    // Crypt filters (V 4 and 5) and the key length in bytes the checks use.
    std::map<std::string, TCryptMethod> FCryptFilters;
    TCryptMethod FStringMethod = TCryptMethod::RC4;
    TCryptMethod FStreamMethod = TCryptMethod::RC4;
    bool FEncryptMetadata = true;
    std::size_t FKeyBytes = 5;
    std::string FOwnerKeyEntry; // OE
    std::string FUserKeyEntry;  // UE
    std::string FPermsEntry;    // Perms
    bool FPermsValid = false;

    // Every security answer checks the passwords again, and revision 6 hashes are slow on
    // purpose: the computations of the current Encrypt entries are remembered, a few of them.
    static constexpr std::size_t kRememberedComputations = 16;
    struct TRememberedKey {
        std::string UserPassword, OwnerPassword, WorkO, WorkU, ID0;
        bool Rev3Mode = false;
        std::string Computed, WorkKey;
        std::uint32_t PermissionValue = 0;
    };
    struct TRememberedHash {
        std::string Password, Salt, UserData, Hash;
    };
    std::vector<TRememberedKey> FKeys;
    std::vector<TRememberedHash> FHashes;
};

} // namespace korvel
