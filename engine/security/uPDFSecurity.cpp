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

#include "file/uPDFDocument.h"
#include "file/uPDFStructure.h"
#include "security/uMD5.h"
#include "security/uRC4.h"

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

// MD5, then 50 more rounds of MD5 over the previous digest when rev3 is set; first n bytes.
std::string hashKey(const std::string& data, bool rev3, std::size_t n) {
    std::string digest = MD5(data);
    if (rev3)
        for (int i = 0; i < 50; ++i)
            digest = MD5(digest);
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

int intOf(const TPDFObject* value) {
    const auto* number = Cast<TPDFNumeric>(value);
    return number ? number->IntValue() : 0;
}

// A value nested directly inside root that is itself a different indirect object; it is
// handled under its own numbers, never as part of root.
bool isOtherIndirect(const TPDFObject* root, const TPDFObject* value) {
    if (value == root || !value->IsIndirect)
        return false;
    return !(root->IsIndirect && value->ObjNum == root->ObjNum && value->GenNum == root->GenNum);
}

} // namespace

void TPDFSecurityHandler::ClearEncryptFields() {
    FEncryptPresent = false;
    FVersion = 0;
    FRevision = 0;
    FKeyBits = 0;
    FOwnerEntry.clear();
    FUserEntry.clear();
    FPermissions = 0;
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

    TPDFDictionary* trailer = FDocument.Trailer();
    if (!trailer)
        return;
    TPDFObject* entry = trailer->Get("Encrypt", false);
    if (!entry)
        return;
    FEncryptPresent = true;
    TPDFIndObj* encryptSlot = nullptr;
    if (const TPDFIndRef* ref = AsRef(entry)) {
        entry = FDocument.ResolveRef(ref->RefObjNum(), ref->RefGenNum());
        encryptSlot = FDocument.FindIndirect(ref->RefObjNum(), ref->RefGenNum());
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

    if (!filter || filter->Value() != "Standard" || (v != 1 && v != 2) || (r != 2 && r != 3))
        return;
    FVersion = v;
    FRevision = r;
    FOwnerEntry = o ? o->Value : std::string();
    FUserEntry = u ? u->Value : std::string();
    FPermissions = p ? permissionBits(p->Value) : 0;
    if (p && p->Value == 0 && encryptSlot && !encryptSlot->Compressed)
        FPermissions = RawPermissions(*encryptSlot);
    FKeyBits = v == 1 ? 40 : length;
}

std::int32_t TPDFSecurityHandler::RawPermissions(const TPDFIndObj& slot) const {
    const std::string& data = FDocument.FileData();
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
    TPDFDictionary* trailer = FDocument.Trailer();
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

std::string TPDFSecurityHandler::ComputeKey(const std::string& userPassword,
                                            const std::string& ownerPassword,
                                            const std::string& workO, const std::string& workU) {
    FWorkKey.clear();
    const std::string id0 = ID0();
    const std::size_t n = FRev3Mode ? 16 : 5;
    FPermissionValue = static_cast<std::uint32_t>(FPermissions);
    if (FPermissions == 0)
        FPermissionValue = FRev3Mode ? 0xF0C0 : 0xFFC0;

    if (workO.empty()) {
        const std::string& password = ownerPassword.empty() ? userPassword : ownerPassword;
        std::string ownerKey = hashKey(paddedPassword(password), FRev3Mode, n);
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
    std::string key = hashKey(input, FRev3Mode, n);
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
    if (FKeyBits == 40)
        return computedU == FUserEntry;
    return FUserEntry.size() >= 16 && computedU.compare(0, 16, FUserEntry, 0, 16) == 0;
}

bool TPDFSecurityHandler::CheckUserPassword(const std::string& password) {
    int kind = EncryptionKind();
    if (kind == 0)
        return password.empty();
    if (kind != 1)
        return false;
    FRev3Mode = FKeyBits != 40;
    return MatchesUserEntry(ComputeKey(password, std::string(), FOwnerEntry, std::string()));
}

bool TPDFSecurityHandler::CheckOwnerPassword(const std::string& password) {
    int kind = EncryptionKind();
    if (kind == 0)
        return password.empty();
    if (kind != 1)
        return false;
    FRev3Mode = FKeyBits != 40;
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
        for (const auto& slot : FDocument.IndirectObjects())
            slot->Walked = false;
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

namespace {

// Pushes the values a container holds directly (for a stream, its dictionary), last first, so
// that popping from the back walks them in order. Other values push nothing.
void pushChildren(TPDFObject* current, std::vector<TPDFObject*>& pending) {
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

} // namespace

void TPDFSecurityHandler::DecryptValue(const std::string& key, TPDFObject* value) {
    if (!value)
        return;
    // An explicit stack instead of recursion: nesting depth costs heap, never the call stack.
    // The visited set keeps a value shared by two containers from being decrypted twice.
    std::vector<TPDFObject*> pending{value};
    std::unordered_set<const TPDFObject*> visited;
    while (!pending.empty()) {
        TPDFObject* current = pending.back();
        pending.pop_back();
        if (!current || isOtherIndirect(value, current) || !visited.insert(current).second)
            continue;
        switch (current->Class()) {
        case TPDFClass::String: {
            auto* string = static_cast<TPDFString*>(current);
            string->SetValue(RC4(key, string->Value));
            break;
        }
        case TPDFClass::Stream: {
            auto* stream = static_cast<TPDFStream*>(current);
            // RC4 keeps the length, so `Length` stays right; the new data version tells
            // caches of decoded data that they are stale.
            stream->ReplaceRawData(RC4(key, stream->RawData()));
            pushChildren(current, pending);
            break;
        }
        default:
            // numbers, names, booleans, nulls and references stay as they are
            pushChildren(current, pending);
            break;
        }
    }
}

void TPDFSecurityHandler::DecryptObject(TPDFIndObj* slot) {
    // Without an applied password there is no key yet: decrypting now would scramble the object
    // and mark it done for good.
    if (!slot || !FPasswordApplied || EncryptionKind() != 1)
        return;
    TPDFObject* value = FDocument.ObjectOf(slot);
    if (slot->Decrypted)
        return;
    slot->Decrypted = true;
    // Cross-reference streams are written without encryption.
    if (const TPDFStream* stream = AsStream(value))
        if (stream->Dictionary() && stream->Dictionary()->GetTypeName() == "XRef")
            return;
    DecryptValue(ObjectKey(slot->ObjNum, slot->GenNum), value);
}

void TPDFSecurityHandler::DecryptGraph(std::int32_t objNum, std::int32_t genNum) {
    if (!FPasswordApplied || EncryptionKind() != 1)
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
        TPDFIndObj* slot = FDocument.FindIndirect(num, gen);
        if (!slot || slot->Walked)
            continue;
        slot->Walked = true;
        DecryptObject(slot);
        TPDFObject* root = FDocument.ObjectOf(slot);
        values.assign(1, root);
        while (!values.empty()) {
            TPDFObject* current = values.back();
            values.pop_back();
            if (!current)
                continue;
            if (root && isOtherIndirect(root, current)) {
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
                pushChildren(current, values);
                break;
            }
        }
    }
}

} // namespace korvel
