// The document's reading of objects out of object streams: the text of a member, cut from its
// container's decoded data, which a cache keeps decoded across reads (TPDFDocument's members).

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "document/uPDFDocument.h"
#include "file/uPDFStructure.h"
#include "security/uPDFSecurity.h"

namespace korvel {

namespace {

// Nearest integer, halves to even, saturated to 32 bits; NaN gives 0.
std::int64_t roundToInt(double value) {
    if (std::isnan(value))
        return 0;
    const double r = std::nearbyint(value);
    return static_cast<std::int64_t>(std::clamp(r, double(std::numeric_limits<std::int32_t>::min()),
                                                double(std::numeric_limits<std::int32_t>::max())));
}

std::string intText(std::int64_t value) {
    char buffer[24];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, ec == std::errc() ? ptr : buffer);
}

} // namespace

std::string TPDFDocument::CompressedObjectText(TPDFIndObj* slot) {
    const std::string prefix = intText(slot->ObjNum) + " " + intText(slot->GenNum) + " obj\r";
    const std::string nullText = prefix + "null\rendobj";

    TPDFIndObj* container = FindIndirect(slot->StreamObjNum, 0);
    if (!container || container == slot)
        return nullText;
    TPDFStream* stream = AsStream(NestedObject(container));
    if (!stream || stream->Dictionary()->GetTypeName() != "ObjStm")
        return nullText;
    if (!container->Decrypted && FSecurity->EncryptionKind() == 1 && FSecurity->PasswordApplied()) {
        const std::string password = FSecurity->AppliedPassword();
        if (!FSecurity->CheckUserPassword(password))
            FSecurity->CheckOwnerPassword(password);
        FSecurity->DecryptObject(container);
    }
    const TPDFDictionary* dict = stream->Dictionary();
    const auto* firstValue = Cast<TPDFNumeric>(dict->Get("First", false));
    const auto* countValue = Cast<TPDFNumeric>(dict->Get("N", false));
    if (!firstValue || !countValue)
        return nullText;
    const std::int64_t first = firstValue->IntValue();
    const std::int64_t count = countValue->IntValue();
    if (first <= 0 || count <= 0 || slot->StreamIndex < 0 || slot->StreamIndex >= count)
        return nullText;

    // Decoded data and header are kept per container while its data stays the same
    // (decryption in place changes the data version).
    TObjStmCache& cache = FObjStmCache[slot->StreamObjNum];
    if (!cache.Valid || cache.Stream != stream || cache.DataVersion != stream->DataVersion() ||
        cache.HeaderFirst != first) {
        if (cache.Valid)
            FObjStmCacheBytes -= static_cast<std::int64_t>(cache.Decoded.size());
        cache.Valid = false;
        cache.Decoded = stream->DecodedData();
        cache.Header.clear();
        TPDFStructure scratch;
        const std::string headerText =
            "[ " + cache.Decoded.substr(0, static_cast<std::size_t>(first)) + " ]";
        if (const TPDFArray* items = AsArray(scratch.Parse(headerText))) {
            cache.Header.reserve(static_cast<std::size_t>(items->Count()));
            for (const TPDFObject* item : items->Items()) {
                const auto* number = Cast<TPDFNumeric>(item);
                cache.Header.push_back(number ? number->Value
                                              : std::numeric_limits<double>::quiet_NaN());
            }
        }
        cache.Stream = stream;
        cache.DataVersion = stream->DataVersion();
        cache.HeaderFirst = first;
        cache.Valid = true;
        FObjStmCacheBytes += static_cast<std::int64_t>(cache.Decoded.size());
        // Past the budget the least recently used containers go first.
        while (FObjStmCacheBytes > kObjStmCacheBudget) {
            auto oldest = FObjStmCache.end();
            for (auto it = FObjStmCache.begin(); it != FObjStmCache.end(); ++it)
                if (&it->second != &cache &&
                    (oldest == FObjStmCache.end() || it->second.LastUse < oldest->second.LastUse))
                    oldest = it;
            if (oldest == FObjStmCache.end())
                break;
            FObjStmCacheBytes -= static_cast<std::int64_t>(oldest->second.Decoded.size());
            FObjStmCache.erase(oldest);
        }
    }
    cache.LastUse = ++FObjStmTick;

    const std::vector<double>& header = cache.Header;
    const std::int64_t index = slot->StreamIndex;
    if (static_cast<std::int64_t>(header.size()) < 2 * count)
        return nullText;
    const double number = header[static_cast<std::size_t>(2 * index)];
    const double offset = header[static_cast<std::size_t>(2 * index + 1)];
    if (std::isnan(number) || number != slot->ObjNum || std::isnan(offset))
        return nullText;
    const std::int64_t o = roundToInt(offset);
    const auto length = static_cast<std::int64_t>(cache.Decoded.size());
    std::int64_t e = length;
    if (index < count - 1 && !std::isnan(header[static_cast<std::size_t>(2 * index + 3)]))
        e = roundToInt(header[static_cast<std::size_t>(2 * index + 3)]);

    std::string text = prefix;
    const std::int64_t start = first + o;
    if (start >= 0 && start < length && e - o > 0)
        text.append(cache.Decoded, static_cast<std::size_t>(start),
                    static_cast<std::size_t>(std::min(e - o, length - start)));
    return text;
}

} // namespace korvel
