#pragma once
// The standard security handler, revisions 2 and 3 (RC4, 40 or 128-bit keys): recognising the
// encryption of a document, checking user and owner passwords, object keys, and decrypting
// strings and streams in place. Its state lives with one document.

#include <cstdint>
#include <string>

namespace korvel {

class TPDFDocument;
class TPDFIndObj;
class TPDFObject;

class TPDFSecurityHandler {
public:
    explicit TPDFSecurityHandler(TPDFDocument& document) : FDocument(document) {}

    // Forgets everything read from `Encrypt` and any applied password.
    void Reset();

    // 0 not encrypted, 1 supported standard handler, 2 anything else.
    int EncryptionKind();
    // 40 for V 1, `Length` for V 2 (0 when missing); 0 for unsupported handlers.
    int KeyLength();
    bool CheckUserPassword(const std::string& password);
    bool CheckOwnerPassword(const std::string& password);
    // A password that passes either check becomes the applied one and sets the file key;
    // when both fail, no password counts as applied.
    void ApplyPassword(const std::string& password);
    std::string ObjectKey(std::int32_t objNum, std::int32_t genNum) const;
    // RC4 of strings and stream data, recursively through dictionaries and arrays; references
    // are not followed.
    void DecryptValue(const std::string& key, TPDFObject* value);
    // Decrypts one indirect object once; nothing while no password is applied.
    void DecryptObject(TPDFIndObj* slot);
    // Decrypts an indirect object and everything it reaches through references, each once.
    void DecryptGraph(std::int32_t objNum, std::int32_t genNum);

    bool PasswordApplied() const { return FPasswordApplied; }
    const std::string& AppliedPassword() const { return FAppliedPassword; }
    const std::string& FileKey() const { return FFileKey; }
    // `P` as a signed 32-bit integer (bit tests); 0 when missing or unsupported.
    std::int32_t Permissions();
    int Revision();
    int Version();

private:
    // Forgets what was read from `Encrypt` (not the applied password).
    void ClearEncryptFields();
    void ReadEncrypt();
    void EnsureRead();
    // `P` read again from the bytes of the Encrypt object, for values beyond 32 signed bits.
    std::int32_t RawPermissions(const TPDFIndObj& slot) const;
    // The computed U against the stored one: whole for 40-bit keys, else the first 16 bytes.
    bool MatchesUserEntry(const std::string& computedU) const;
    // The shared key computation; returns the computed U and sets FWorkKey.
    std::string ComputeKey(const std::string& userPassword, const std::string& ownerPassword,
                           const std::string& workO, const std::string& workU);
    std::string ID0();

    TPDFDocument& FDocument;
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
};

} // namespace korvel
