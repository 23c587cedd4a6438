#include "security/uPDFSecurity.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "file/uPDFObjectHolder.h"
#include "file/uPDFStructure.h"
#include "platform/uCodePage.h"
#include "security/uCrypto.h"
#include "security/uMD5.h"
#include "security/uRC4.h"

#ifdef TOLVANE_HAVE_STRINGPREP
#include <stringprep.h>
#endif

namespace korvel {

namespace {

// The padding string of the standard security handler.
constexpr unsigned char kPadBytes[32] = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

const std::string& pad() {
    static const std::string value(reinterpret_cast<const char*>(kPadBytes), sizeof kPadBytes);
    return value;
}

// The password cut to 32 bytes and filled up with the padding string.
std::string paddedPassword(const std::string& password) {
    std::string out = password.substr(0, 32);
    out += pad().substr(0, 32 - out.size());
    return out;
}

// MD5, then 50 more rounds of MD5 when rev3 is set, each over the first `rounds` bytes of the
// previous digest (the whole digest for the owner key, the key length for the file key); first
// n bytes.
std::string hashKey(const std::string& data, bool rev3, std::size_t n, std::size_t rounds) {
    std::string digest = MD5(data);
    if (rev3)
        for (int i = 0; i < 50; ++i)
            digest = MD5(digest.substr(0, rounds));
    return digest.substr(0, n);
}

std::string xorKey(const std::string& key, unsigned char value) {
    std::string out = key;
    for (char& c : out)
        c = char(std::uint8_t(c) ^ value);
    return out;
}

// P is a 32-bit signed number, but some writers store its bit pattern unsigned (4294967292 for
// -4). The number goes to a 64-bit integer first and keeps its low 32 bits, which reads both
// spellings alike; values beyond the 64-bit range saturate, NaN reads as 0.
std::int32_t permissionBits(double value) {
    if (std::isnan(value))
        return 0;
    double rounded = std::nearbyint(value);
    std::int64_t wide;
    if (rounded >= 9.2e18)
        wide = INT64_MAX;
    else if (rounded <= -9.2e18)
        wide = INT64_MIN;
    else
        wide = static_cast<std::int64_t>(rounded);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(wide & 0xFFFFFFFF));
}

// The integer written after the top-level key /P of a dictionary's source text, for a `P` that
// the object parser had to read as 0 because it does not fit 32 signed bits (4294967292 written
// for -4). Strings are skipped so that bytes inside O and U cannot pose as the key.
std::optional<std::int64_t> rawPermissionNumber(std::string_view text) {
    std::size_t i = 0;
    int depth = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (c == '(') {
            int parens = 0;
            for (; i < n; ++i) {
                if (text[i] == '\\')
                    ++i;
                else if (text[i] == '(')
                    ++parens;
                else if (text[i] == ')' && --parens == 0)
                    break;
            }
            ++i;
        } else if (c == '<' && i + 1 < n && text[i + 1] == '<') {
            ++depth;
            i += 2;
        } else if (c == '>' && i + 1 < n && text[i + 1] == '>') {
            if (--depth <= 0)
                return std::nullopt; // end of the dictionary
            i += 2;
        } else if (c == '<') {
            while (i < n && text[i] != '>')
                ++i;
            ++i;
        } else if (c == '%') {
            while (i < n && text[i] != '\r' && text[i] != '\n')
                ++i;
        } else if (c == '/') {
            std::size_t end = i + 1;
            while (end < n && !IsWhiteSpace(std::uint8_t(text[end])) &&
                   !IsDelimiter(std::uint8_t(text[end])) && text[end] != '>' && text[end] != ']')
                ++end;
            const bool isP = depth == 1 && text.substr(i + 1, end - i - 1) == "P";
            i = end;
            if (!isP)
                continue;
            while (i < n && IsWhiteSpace(std::uint8_t(text[i])))
                ++i;
            if (i >= n)
                return std::nullopt;
            std::size_t start = i;
            if (text[i] == '+' || text[i] == '-')
                ++i;
            while (i < n && text[i] >= '0' && text[i] <= '9')
                ++i;
            std::int64_t value = 0;
            const char* first = text.data() + start + (text[start] == '+' ? 1 : 0);
            auto [ptr, ec] = std::from_chars(first, text.data() + i, value);
            if (ec != std::errc() || ptr != text.data() + i)
                return std::nullopt;
            return value;
        } else {
            ++i;
        }
    }
    return std::nullopt;
}

// Passwords of revisions 5 and 6 are cut to this many bytes of UTF-8.
constexpr std::size_t kMaxAES256Password = 127;

// The next code point of UTF-8 text; nullopt on a malformed sequence (overlong forms and
// surrogates included).
std::optional<char32_t> nextCodePoint(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80)
        return lead;
    int extra;
    char32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        cp = lead & 0x07;
    } else {
        return std::nullopt;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size())
            return std::nullopt;
        const auto c = static_cast<unsigned char>(text[i++]);
        if ((c & 0xC0) != 0x80)
            return std::nullopt;
        cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return std::nullopt;
    return cp;
}

std::optional<TCryptMethod> methodOfName(const std::string& cfm) {
    if (cfm == "None")
        return TCryptMethod::None;
    if (cfm == "V2")
        return TCryptMethod::RC4;
    if (cfm == "AESV2")
        return TCryptMethod::AESV2;
    if (cfm == "AESV3")
        return TCryptMethod::AESV3;
    return std::nullopt;
}

// The crypt filter a stream names itself: `Crypt` first in `Filter`, its `Name` in the
// parameters (Identity when there is none); nullopt for a stream without one.
std::optional<std::string> ownCryptFilter(const TPDFDictionary* dict) {
    if (!dict)
        return std::nullopt;
    TPDFObject* filter = dict->Get("Filter");
    const TPDFDictionary* parms = nullptr;
    TPDFObject* parmsValue = dict->Get("DecodeParms");
    if (const auto* name = Cast<TPDFName>(filter)) {
        if (name->Value() != "Crypt")
            return std::nullopt;
        parms = Cast<TPDFDictionary>(parmsValue);
    } else if (const auto* list = Cast<TPDFArray>(filter)) {
        const auto* first = Cast<TPDFName>(list->Item(0));
        if (!first || first->Value() != "Crypt")
            return std::nullopt;
        if (const auto* parmList = Cast<TPDFArray>(parmsValue))
            parms = Cast<TPDFDictionary>(parmList->Item(0));
    } else {
        return std::nullopt;
    }
    const auto* name = parms ? Cast<TPDFName>(parms->Get("Name")) : nullptr;
    return name ? name->Value() : std::string("Identity");
}

std::string decryptBytes(TCryptMethod method, std::string_view key, std::string_view data) {
    switch (method) {
    case TCryptMethod::RC4:
        return RC4(key, data);
    case TCryptMethod::AESV2:
    case TCryptMethod::AESV3:
        return AESDecryptPadded(key, data);
    case TCryptMethod::None:
        break;
    }
    return std::string(data);
}

int intOf(const TPDFObject* value) {
    const auto* number = Cast<TPDFNumeric>(value);
    return number ? number->IntValue() : 0;
}

} // namespace

std::optional<std::string> PasswordToCp1252(std::string_view password) {
    std::string out;
    out.reserve(password.size());
    for (std::size_t i = 0; i < password.size();) {
        const std::optional<char32_t> cp = nextCodePoint(password, i);
        if (!cp)
            return std::string(password); // not UTF-8: already the bytes
        if (*cp < 0x80) {
            out += static_cast<char>(*cp);
            continue;
        }
        if (*cp > 0xFFFF)
            return std::nullopt;
        const char byte = Utf16UnitToCp1252(static_cast<std::uint16_t>(*cp));
        if (byte == '?')
            return std::nullopt; // the code page has no byte for it
        out += byte;
    }
    return out;
}

std::string PasswordForAES256(std::string_view password) {
    std::string out(password);
#ifdef TOLVANE_HAVE_STRINGPREP
    // SASLprep works on NUL-terminated text; a password holding NUL is used as it is.
    if (out.find('\0') == std::string::npos) {
        char* prepared = nullptr;
        if (stringprep_profile(out.c_str(), &prepared, "SASLprep", STRINGPREP_NO_UNASSIGNED) ==
                STRINGPREP_OK &&
            prepared)
            out = prepared;
        free(prepared);
    }
#endif
    if (out.size() > kMaxAES256Password) {
        // Cut at a character boundary when the text is UTF-8.
        std::size_t cut = kMaxAES256Password;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut;
        out.resize(cut > 0 ? cut : kMaxAES256Password);
    }
    return out;
}

std::string HashV5(std::string_view password, std::string_view salt, std::string_view userData,
                   int revision) {
    std::string input(password);
    input += salt;
    input += userData;
    std::string k = Sha256(input);
    if (revision < 6)
        return k;
    // At least 64 rounds, then on until the last byte of E is at most the rounds done - 32;
    // that byte is below 256, so the loop ends by round 288.
    std::string unit;
    std::string k1;
    for (int rounds = 0;;) {
        unit.assign(password);
        unit += k;
        unit += userData;
        k1.clear();
        k1.reserve(unit.size() * 64);
        for (int i = 0; i < 64; ++i)
            k1 += unit;
        const std::string e = AESEncryptCBC(std::string_view(k).substr(0, 16),
                                            std::string_view(k).substr(16, 16), k1);
        if (e.size() < 16)
            return std::string(32, '\0'); // cannot happen: k1 is a multiple of 64 bytes
        unsigned sum = 0;
        for (int i = 0; i < 16; ++i)
            sum += static_cast<unsigned char>(e[static_cast<std::size_t>(i)]);
        switch (sum % 3) {
        case 0:
            k = Sha256(e);
            break;
        case 1:
            k = Sha384(e);
            break;
        default:
            k = Sha512(e);
            break;
        }
        ++rounds;
        if (rounds >= 64 && static_cast<unsigned char>(e.back()) <= rounds - 32)
            break;
    }
    return k.substr(0, 32);
}

void TPDFSecurityHandler::ClearEncryptFields() {
    FEncryptPresent = false;
    FVersion = 0;
    FRevision = 0;
    FKeyBits = 0;
    FOwnerEntry.clear();
    FUserEntry.clear();
    FPermissions = 0;
    FCryptFilters.clear();
    FStringMethod = TCryptMethod::RC4;
    FStreamMethod = TCryptMethod::RC4;
    FEncryptMetadata = true;
    FKeyBytes = 5;
    ForgetComputations();
    FOwnerKeyEntry.clear();
    FUserKeyEntry.clear();
    FPermsEntry.clear();
    FPermsValid = false;
}

void TPDFSecurityHandler::Reset() {
    FSecurityRead = false;
    ClearEncryptFields();
    FPasswordApplied = false;
    FAppliedPassword.clear();
    FFileKey.clear();
    FWorkKey.clear();
    FRev3Mode = false;
    FPermissionValue = 0;
}

void TPDFSecurityHandler::ReadEncrypt() {
    ClearEncryptFields();
    // Set before anything is resolved: resolving may read an object stream, which asks for the
    // encryption kind again and must then get the (still empty) answer instead of recursing.
    FSecurityRead = true;

    TPDFDictionary* trailer = FHolder.Trailer();
    if (!trailer)
        return;
    TPDFObject* entry = trailer->Get("Encrypt", false);
    if (!entry)
        return;
    FEncryptPresent = true;
    TPDFIndObj* encryptSlot = nullptr;
    if (const TPDFIndRef* ref = AsRef(entry)) {
        entry = FHolder.ResolveRef(ref->RefObjNum(), ref->RefGenNum());
        encryptSlot = FHolder.FindIndirect(ref->RefObjNum(), ref->RefGenNum());
        // The dictionary itself is never encrypted: keep every decryption away from it.
        if (encryptSlot)
            encryptSlot->Decrypted = true;
    }
    TPDFDictionary* dict = AsDictionary(entry);
    if (!dict)
        return;

    const TPDFName* filter = AsName(dict->Get("Filter", false));
    int v = intOf(dict->Get("V", false));
    int r = intOf(dict->Get("R", false));
    int length = intOf(dict->Get("Length", false));
    const auto* o = Cast<TPDFString>(dict->Get("O", false));
    const auto* u = Cast<TPDFString>(dict->Get("U", false));
    const auto* p = Cast<TPDFNumeric>(dict->Get("P", false));

    if (!filter || filter->Value() != "Standard")
        return;
    const bool rc4Only = (v == 1 || v == 2) && r >= 2 && r <= 4;
    const bool cryptFilters = (v == 4 && r == 4) || (v == 5 && (r == 5 || r == 6));
    if (!rc4Only && !cryptFilters)
        return;
    if (cryptFilters) {
        // Crypt filters by name; an unknown method makes the handler unsupported only when a
        // default names it (a stream naming it decrypts as Identity).
        if (const TPDFDictionary* cf = AsDictionary(dict->Get("CF", false))) {
            for (int i = 0; i < cf->Count(); ++i) {
                const auto& [name, value] = cf->EntryAt(i);
                const TPDFDictionary* filterDict = AsDictionary(value);
                const TPDFName* cfm = filterDict ? AsName(filterDict->Get("CFM", false)) : nullptr;
                if (std::optional<TCryptMethod> m = methodOfName(cfm ? cfm->Value() : "None"))
                    FCryptFilters[name->Value()] = *m;
            }
        }
        const TPDFName* stmF = AsName(dict->Get("StmF", false));
        const TPDFName* strF = AsName(dict->Get("StrF", false));
        const std::optional<TCryptMethod> streams = FilterMethod(stmF ? stmF->Value() : "Identity");
        const std::optional<TCryptMethod> strings = FilterMethod(strF ? strF->Value() : "Identity");
        if (!streams || !strings)
            return;
        FStreamMethod = *streams;
        FStringMethod = *strings;
        if (const auto* meta = Cast<TPDFBoolean>(dict->Get("EncryptMetadata", false)))
            FEncryptMetadata = meta->Value;
        if (v == 5) {
            const auto* oe = Cast<TPDFString>(dict->Get("OE", false));
            const auto* ue = Cast<TPDFString>(dict->Get("UE", false));
            FOwnerKeyEntry = oe ? oe->Value : std::string();
            FUserKeyEntry = ue ? ue->Value : std::string();
            const auto* perms = Cast<TPDFString>(dict->Get("Perms", false));
            FPermsEntry = perms ? perms->Value : std::string();
        }
    }
    FVersion = v;
    FRevision = r;
    FOwnerEntry = o ? o->Value : std::string();
    FUserEntry = u ? u->Value : std::string();
    FPermissions = p ? permissionBits(p->Value) : 0;
    if (p && p->Value == 0 && encryptSlot && !encryptSlot->Compressed)
        FPermissions = RawPermissions(*encryptSlot);
    FKeyBits = v == 1 ? 40 : v == 5 ? 256 : length;
    // Key lengths are whole bytes from 40 to 128 bits; a missing or odd `Length` means 128.
    if (v == 1)
        FKeyBytes = 5;
    else if (v == 5)
        FKeyBytes = 32;
    else if (length >= 40 && length <= 128 && length % 8 == 0)
        FKeyBytes = static_cast<std::size_t>(length / 8);
    else
        FKeyBytes = 16;
}

std::optional<TCryptMethod> TPDFSecurityHandler::FilterMethod(const std::string& name) const {
    if (name == "Identity")
        return TCryptMethod::None;
    const auto it = FCryptFilters.find(name);
    if (it == FCryptFilters.end())
        return std::nullopt;
    return it->second;
}

TCryptMethod TPDFSecurityHandler::StringMethod() {
    EnsureRead();
    return FStringMethod;
}

TCryptMethod TPDFSecurityHandler::StreamMethod() {
    EnsureRead();
    return FStreamMethod;
}

TCryptMethod TPDFSecurityHandler::MethodOfStream(const TPDFStream& stream) {
    EnsureRead();
    if (FVersion < 4)
        return FStreamMethod;
    const TPDFDictionary* dict = stream.Dictionary();
    if (std::optional<std::string> own = ownCryptFilter(dict))
        return FilterMethod(*own).value_or(TCryptMethod::None);
    if (!FEncryptMetadata && dict && dict->GetTypeName() == "Metadata")
        return TCryptMethod::None;
    return FStreamMethod;
}

std::int32_t TPDFSecurityHandler::RawPermissions(const TPDFIndObj& slot) const {
    const std::string_view data = FHolder.FileData();
    const auto size = static_cast<std::int64_t>(data.size());
    if (slot.Offset <= 0 || slot.Offset >= size || slot.Extent <= 0)
        return 0;
    std::string_view text(data);
    text = text.substr(static_cast<std::size_t>(slot.Offset),
                       static_cast<std::size_t>(std::min(slot.Extent, size - slot.Offset)));
    // The dictionary starts after `obj`.
    const std::size_t start = text.find("<<");
    if (start == std::string_view::npos)
        return 0;
    std::optional<std::int64_t> value = rawPermissionNumber(text.substr(start));
    return value ? static_cast<std::int32_t>(static_cast<std::uint32_t>(*value & 0xFFFFFFFF)) : 0;
}

void TPDFSecurityHandler::EnsureRead() {
    if (!FSecurityRead)
        ReadEncrypt();
}

int TPDFSecurityHandler::EncryptionKind() {
    EnsureRead();
    if (!FEncryptPresent)
        return 0;
    return FVersion != 0 ? 1 : 2;
}

int TPDFSecurityHandler::KeyLength() {
    EnsureRead();
    return FKeyBits;
}

std::int32_t TPDFSecurityHandler::Permissions() {
    EnsureRead();
    return FPermissions;
}

int TPDFSecurityHandler::Revision() {
    EnsureRead();
    return FRevision;
}

int TPDFSecurityHandler::Version() {
    EnsureRead();
    return FVersion;
}

std::string TPDFSecurityHandler::ID0() {
    // Without an ID the empty string stands in; making one up would make every check fail.
    TPDFDictionary* trailer = FHolder.Trailer();
    if (!trailer)
        return {};
    const TPDFArray* ids = AsArray(trailer->Get("ID"));
    if (!ids)
        return {};
    TPDFObject* first = ids->Item(0);
    if (const TPDFIndRef* ref = AsRef(first))
        first = ref->Resolve();
    const auto* id = Cast<TPDFString>(first);
    return id ? id->Value : std::string();
}

void TPDFSecurityHandler::ForgetComputations() {
    FKeys.clear();
    FHashes.clear();
}

std::string TPDFSecurityHandler::ComputeKey(const std::string& userPassword,
                                            const std::string& ownerPassword,
                                            const std::string& workO, const std::string& workU) {
    const std::string id0 = ID0();
    for (const TRememberedKey& known : FKeys) {
        if (known.Rev3Mode == FRev3Mode && known.UserPassword == userPassword &&
            known.OwnerPassword == ownerPassword && known.WorkO == workO &&
            known.WorkU == workU && known.ID0 == id0) {
            FWorkKey = known.WorkKey;
            FPermissionValue = known.PermissionValue;
            return known.Computed;
        }
    }
    std::string computed = ComputeKeyAfresh(userPassword, ownerPassword, workO, workU, id0);
    if (FKeys.size() >= kRememberedComputations)
        FKeys.erase(FKeys.begin());
    FKeys.push_back({userPassword, ownerPassword, workO, workU, id0, FRev3Mode, computed,
                     FWorkKey, FPermissionValue});
    return computed;
}

std::string TPDFSecurityHandler::ComputeKeyAfresh(const std::string& userPassword,
                                                  const std::string& ownerPassword,
                                                  const std::string& workO,
                                                  const std::string& workU,
                                                  const std::string& id0) {
    FWorkKey.clear();
    const std::size_t n = FKeyBytes;
    FPermissionValue = static_cast<std::uint32_t>(FPermissions);
    if (FPermissions == 0)
        FPermissionValue = FRev3Mode ? 0xF0C0 : 0xFFC0;

    if (workO.empty()) {
        const std::string& password = ownerPassword.empty() ? userPassword : ownerPassword;
        std::string ownerKey = hashKey(paddedPassword(password), FRev3Mode, n, 16);
        if (!workU.empty()) {
            FWorkKey = ownerKey;
            return {};
        }
    }

    std::string input = paddedPassword(userPassword);
    input += workO;
    for (int i = 0; i < 4; ++i)
        input += char((FPermissionValue >> (8 * i)) & 0xFF);
    input += id0;
    // Revision 4 with metadata in clear: four bytes of 0xFF go into the key.
    if (FRevision >= 4 && !FEncryptMetadata)
        input.append(4, '\xFF');
    std::string key = hashKey(input, FRev3Mode, n, n);
    if (FWorkKey.empty())
        FWorkKey = key;

    if (!FRev3Mode)
        return RC4(key, pad());
    std::string computed = RC4(key, MD5(pad() + id0));
    for (unsigned char i = 1; i <= 19; ++i)
        computed = RC4(xorKey(key, i), computed);
    // Filler: only the first 16 bytes are ever compared.
    computed.append(16, '\0');
    return computed;
}

bool TPDFSecurityHandler::MatchesUserEntry(const std::string& computedU) const {
    if (FRevision == 2)
        return computedU == FUserEntry;
    return FUserEntry.size() >= 16 && computedU.compare(0, 16, FUserEntry, 0, 16) == 0;
}

std::optional<std::string> TPDFSecurityHandler::PasswordBytes(const std::string& password) const {
    if (FRevision >= 5)
        return PasswordForAES256(password);
    return PasswordToCp1252(password);
}

std::string TPDFSecurityHandler::PasswordHash(std::string_view password, std::string_view salt,
                                              std::string_view userData) {
    for (const TRememberedHash& known : FHashes)
        if (known.Password == password && known.Salt == salt && known.UserData == userData)
            return known.Hash;
    std::string hash = HashV5(password, salt, userData, FRevision);
    if (FHashes.size() >= kRememberedComputations)
        FHashes.erase(FHashes.begin());
    FHashes.push_back({std::string(password), std::string(salt), std::string(userData), hash});
    return hash;
}

bool TPDFSecurityHandler::CheckAES256(const std::string& password, bool owner) {
    // U and O: 32 bytes of hash, 8 of validation salt, 8 of key salt; UE and OE: the file key
    // under a key made from the password with the key salt.
    if (FUserEntry.size() < 48 || (owner && FOwnerEntry.size() < 48))
        return false;
    const std::string_view entry = owner ? FOwnerEntry : FUserEntry;
    const std::string_view userData = owner ? std::string_view(FUserEntry).substr(0, 48) : "";
    if (PasswordHash(password, entry.substr(32, 8), userData) != entry.substr(0, 32))
        return false;
    const std::string& keyEntry = owner ? FOwnerKeyEntry : FUserKeyEntry;
    if (keyEntry.size() < 32)
        return false;
    const std::string intermediate = PasswordHash(password, entry.substr(40, 8), userData);
    FWorkKey = AESDecryptCBC(intermediate, std::string(16, '\0'),
                             std::string_view(keyEntry).substr(0, 32));
    if (FWorkKey.size() != 32)
        return false;
    // Perms is the permissions under the file key: "adb" at bytes 9 to 11, P in the first four.
    // A file whose Perms does not agree is still read (other readers do the same); the answer
    // is kept for whoever wants to know.
    const std::string perms = FPermsEntry.size() >= 16
                                  ? AESDecryptCBC(FWorkKey, std::string(16, '\0'),
                                                  std::string_view(FPermsEntry).substr(0, 16))
                                  : std::string();
    const auto p = static_cast<std::uint32_t>(FPermissions);
    FPermsValid = perms.size() == 16 && perms.compare(9, 3, "adb") == 0 &&
                  static_cast<unsigned char>(perms[0]) == (p & 255) &&
                  static_cast<unsigned char>(perms[1]) == ((p >> 8) & 255) &&
                  static_cast<unsigned char>(perms[2]) == ((p >> 16) & 255) &&
                  static_cast<unsigned char>(perms[3]) == ((p >> 24) & 255);
    return true;
}

bool TPDFSecurityHandler::CheckUserPassword(const std::string& text) {
    int kind = EncryptionKind();
    if (kind == 0)
        return text.empty();
    if (kind != 1)
        return false;
    const std::optional<std::string> password = PasswordBytes(text);
    if (!password)
        return false;
    if (FRevision >= 5)
        return CheckAES256(*password, false);
    FRev3Mode = FRevision >= 3;
    return MatchesUserEntry(ComputeKey(*password, std::string(), FOwnerEntry, std::string()));
}

bool TPDFSecurityHandler::CheckOwnerPassword(const std::string& text) {
    int kind = EncryptionKind();
    if (kind == 0)
        return text.empty();
    if (kind != 1)
        return false;
    const std::optional<std::string> converted = PasswordBytes(text);
    if (!converted)
        return false;
    const std::string& password = *converted;
    if (FRevision >= 5)
        return CheckAES256(password, true);
    FRev3Mode = FRevision >= 3;
    ComputeKey(password, password, std::string(), FUserEntry);
    const std::string ownerKey = FWorkKey;
    std::string userPassword = FOwnerEntry;
    if (FRevision == 2) {
        userPassword = RC4(ownerKey, userPassword);
    } else {
        for (int i = 19; i >= 0; --i)
            userPassword = RC4(xorKey(ownerKey, static_cast<unsigned char>(i)), userPassword);
    }
    return MatchesUserEntry(ComputeKey(userPassword, std::string(), FOwnerEntry, std::string()));
}

void TPDFSecurityHandler::ApplyPassword(const std::string& password) {
    if (!CheckUserPassword(password) && !CheckOwnerPassword(password)) {
        FPasswordApplied = false;
        return;
    }
    FPasswordApplied = true;
    FAppliedPassword = password;
    if (FWorkKey != FFileKey) {
        // The walk marks belong to the old key: under a new one every object must be walked
        // again (what was decrypted stays decrypted).
        FHolder.ForgetDecryptionWalks();
    }
    FFileKey = FWorkKey;
}

std::string TPDFSecurityHandler::ObjectKey(std::int32_t objNum, std::int32_t genNum) const {
    std::string input = FFileKey;
    const auto num = static_cast<std::uint32_t>(objNum);
    const auto gen = static_cast<std::uint32_t>(genNum);
    input += char(num & 0xFF);
    input += char((num >> 8) & 0xFF);
    input += char((num >> 16) & 0xFF);
    input += char(gen & 0xFF);
    input += char((gen >> 8) & 0xFF);
    return MD5(input).substr(0, std::min<std::size_t>(FFileKey.size() + 5, 16));
}

std::string TPDFSecurityHandler::ObjectKeyFor(std::int32_t objNum, std::int32_t genNum,
                                              TCryptMethod method) const {
    if (method == TCryptMethod::AESV3)
        return FFileKey;
    if (method != TCryptMethod::AESV2)
        return ObjectKey(objNum, genNum);
    std::string input = FFileKey;
    const auto num = static_cast<std::uint32_t>(objNum);
    const auto gen = static_cast<std::uint32_t>(genNum);
    for (int i = 0; i < 3; ++i)
        input += char((num >> (8 * i)) & 0xFF);
    for (int i = 0; i < 2; ++i)
        input += char((gen >> (8 * i)) & 0xFF);
    input += "sAlT";
    return MD5(input).substr(0, std::min<std::size_t>(FFileKey.size() + 5, 16));
}

void TPDFSecurityHandler::DecryptValue(const std::string& key, TPDFObject* value) {
    DecryptWith([&key](TCryptMethod) -> const std::string& { return key; }, value);
}

template <typename KeyOf>
void TPDFSecurityHandler::DecryptWith(const KeyOf& keyOf, TPDFObject* value) {
    if (!value)
        return;
    EnsureRead();
    // An explicit stack instead of recursion: nesting depth costs heap, never the call stack.
    // The visited set keeps a value shared by two containers from being decrypted twice.
    std::vector<TPDFObject*> pending{value};
    std::unordered_set<const TPDFObject*> visited;
    while (!pending.empty()) {
        TPDFObject* current = pending.back();
        pending.pop_back();
        if (!current || IsOtherIndirect(value, current) || !visited.insert(current).second)
            continue;
        switch (current->Class()) {
        case TPDFClass::String: {
            auto* string = static_cast<TPDFString*>(current);
            if (FStringMethod != TCryptMethod::None)
                string->SetValue(decryptBytes(FStringMethod, keyOf(FStringMethod), string->Value));
            break;
        }
        case TPDFClass::Stream: {
            auto* stream = static_cast<TPDFStream*>(current);
            // The new data version tells caches of decoded data that they are stale.
            const TCryptMethod method = MethodOfStream(*stream);
            if (method != TCryptMethod::None)
                stream->ReplaceRawData(decryptBytes(method, keyOf(method), stream->RawData()));
            PushChildren(current, pending);
            break;
        }
        default:
            // numbers, names, booleans, nulls and references stay as they are
            PushChildren(current, pending);
            break;
        }
    }
}

void TPDFSecurityHandler::DecryptObject(TPDFIndObj* slot) {
    // Without an applied password there is no key yet: decrypting now would scramble the object
    // and mark it done for good.
    if (!slot || !FPasswordApplied || EncryptionKind() != 1)
        return;
    TPDFObject* value = FHolder.ObjectOf(slot);
    if (slot->Decrypted)
        return;
    slot->Decrypted = true;
    // Cross-reference streams are written without encryption.
    if (const TPDFStream* stream = AsStream(value))
        if (stream->Dictionary() && stream->Dictionary()->GetTypeName() == "XRef")
            return;
    // Keys by method, each made once for this object.
    std::map<TCryptMethod, std::string> keys;
    const std::int32_t num = slot->ObjNum;
    const std::int32_t gen = slot->GenNum;
    DecryptWith(
        [&](TCryptMethod method) -> const std::string& {
            auto [it, added] = keys.try_emplace(method);
            if (added)
                it->second = ObjectKeyFor(num, gen, method);
            return it->second;
        },
        value);
}

} // namespace korvel
