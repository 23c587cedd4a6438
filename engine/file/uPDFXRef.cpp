#include "file/uPDFXRef.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "file/uPDFExtra.h"
#include "file/uPDFFilters.h"
#include "file/uPDFStructure.h"

namespace korvel {

namespace {

// Window read around a section offset, and how far before the offset it starts.
constexpr std::int64_t kWindowSize = 1024;
constexpr std::int64_t kWindowLead = 10;
// Bytes searched for `trailer` after a classic table, and read for a stream's dictionary.
constexpr std::int64_t kTrailerSearch = 2048;
constexpr std::int64_t kStreamHead = 20480;
// Larger than any file that loads (used to saturate byte counts).
constexpr std::int64_t kMaxFileSize64 = std::int64_t{1} << 40;
// A classic entry is at least 18 bytes long (offset, space, generation, space, type).
constexpr std::int64_t kMinEntryBytes = 18;
// Digit runs saturate here: far beyond any offset or count, and 20 times it still fits 64 bits.
constexpr std::int64_t kDigitCap = 1'000'000'000'000'000;

std::int64_t readDigitRun(std::string_view text, std::size_t& i) {
    std::int64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i)
        value = std::min(kDigitCap, value * 10 + (text[i] - '0'));
    return value;
}

// A fixed-width field of a classic entry: leading spaces, an optional sign, decimal digits and
// nothing else, within 32 bits; anything else reads as 0.
std::int32_t readEntryField(std::string_view field) {
    std::size_t i = 0;
    while (i < field.size() && field[i] == ' ')
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '-' || field[i] == '+')) {
        negative = field[i] == '-';
        ++i;
    }
    if (i == field.size())
        return 0;
    std::int64_t value = 0;
    for (; i < field.size(); ++i) {
        if (!IsDigit(field[i]))
            return 0;
        value = value * 10 + (field[i] - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1)
            return 0;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max() ||
        value < std::numeric_limits<std::int32_t>::min())
        return 0;
    return static_cast<std::int32_t>(value);
}

std::int32_t clampToInt32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// True when the dictionary's `Filter` names a filter that changes the data.
bool hasDecodingFilter(const TPDFDictionary* dict) {
    auto decodes = [](const TPDFObject* v) {
        const TPDFName* name = Cast<TPDFName>(v);
        if (!name)
            return false;
        const std::string& n = name->Value();
        return n == "FlateDecode" || n == "Fl" || n == "ASCII85Decode" || n == "A85" ||
               n == "LZWDecode";
    };
    const TPDFObject* filter = dict->Get("Filter", true);
    if (const TPDFArray* chain = Cast<TPDFArray>(filter))
        return std::any_of(chain->Items().begin(), chain->Items().end(), decodes);
    return decodes(filter);
}

std::int64_t intOf(const TPDFObject* value) {
    const auto* number = Cast<TPDFNumeric>(value);
    return number ? number->IntValue() : 0;
}

// A big-endian field of a cross-reference stream; only the low 32 bits are kept.
std::uint32_t readField(std::string_view data, std::size_t& pos, std::int64_t width) {
    std::uint32_t value = 0;
    for (std::int64_t k = 0; k < width; ++k)
        value = (value << 8) | static_cast<unsigned char>(data[pos++]);
    return value;
}

} // namespace

void TXRStringStream::Seek(std::int64_t position) {
    FPosition = std::clamp<std::int64_t>(position, 0, Size());
}

std::string TXRStringStream::Read(std::int64_t count) {
    if (count <= 0)
        return {};
    std::int64_t n = std::min<std::int64_t>(count, Size() - FPosition);
    std::string out(FData.substr(static_cast<std::size_t>(FPosition), static_cast<std::size_t>(n)));
    FPosition += n;
    return out;
}

std::string TPDFXRefReader::ReadAt(std::int64_t offset, std::int64_t length) {
    FStream.Seek(std::max<std::int64_t>(offset, 0));
    return FStream.Read(length);
}

std::int32_t TPDFXRefReader::FindStartXRef() {
    const std::string_view data = FStream.Data();
    const std::int64_t size = FStream.Size();
    const std::int64_t tailStart = std::max<std::int64_t>(0, size - kWindowSize);
    const std::string_view tail = data.substr(static_cast<std::size_t>(tailStart));

    std::size_t eof = tail.rfind("%%EOF");
    if (eof != std::string_view::npos) {
        // The number right before the last %%EOF, whatever keyword stands before it.
        const std::int64_t end = tailStart + static_cast<std::int64_t>(eof);
        const std::int64_t from = std::max<std::int64_t>(0, end - 5000);
        const std::string_view before =
            data.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(end - from));
        std::size_t i = before.size();
        while (i > 0 && IsWhiteSpace(before[i - 1]))
            --i;
        std::size_t j = i;
        while (j > 0 && IsDigit(before[j - 1]))
            --j;
        std::size_t k = j;
        return clampToInt32(readDigitRun(before.substr(0, i), k));
    }

    std::size_t start = tail.find("startxref");
    if (start == std::string_view::npos)
        return 0;
    std::size_t i = start + 9;
    while (i < tail.size() && IsWhiteSpace(tail[i]))
        ++i;
    return clampToInt32(readDigitRun(tail, i));
}

bool TPDFXRefReader::LocateSection(std::int64_t offset, bool& isStream, std::int64_t& position) {
    const std::int64_t windowStart = offset < kWindowLead ? 0 : offset - kWindowLead;
    const std::string window = ReadAt(windowStart, kWindowSize);
    std::size_t xref = window.find("xref");
    // The tail of `startxref` is no table; a later `xref` in the window is not looked for.
    if (xref != std::string::npos && xref > 0 && window[xref - 1] == 't')
        xref = std::string::npos;
    const std::size_t obj = window.find(" obj");
    // An object first is read as a cross-reference stream, also when a table follows within
    // the window (a hybrid file's XRefStm stream right before its table); the stream reader
    // refuses anything that is not `Type /XRef`.
    if (obj != std::string::npos && (xref == std::string::npos || obj < xref)) {
        isStream = true;
        position = windowStart + static_cast<std::int64_t>(obj) + 4;
        return true;
    }
    if (xref != std::string::npos) {
        isStream = false;
        position = windowStart + static_cast<std::int64_t>(xref) + 4;
        return true;
    }
    return false;
}

TPDFXRefReader::TSectionLinks TPDFXRefReader::ReadTable(std::int64_t p) {
    TSectionLinks links;
    const std::int64_t size = FStream.Size();
    for (;;) {
        const std::string header = ReadAt(p, 20);
        if (header.find("trailer") != std::string::npos)
            break;
        std::size_t i = 0;
        while (i < header.size() && !IsDigit(header[i]))
            ++i;
        if (i == header.size())
            break;
        const std::int64_t first = readDigitRun(header, i);
        while (i < header.size() && !IsDigit(header[i]))
            ++i;
        if (i == header.size())
            break;
        const std::int64_t count = readDigitRun(header, i);
        while (i < header.size() && !IsDigit(header[i]))
            ++i;
        if (i == header.size())
            break;
        p += static_cast<std::int64_t>(i);
        if (first < 0 || count < 1)
            break;
        // A count the rest of the file cannot hold, or numbering past the 32-bit range, ends
        // the subsections instead of reading (and allocating) what the count claims.
        if (count > (size - p) / kMinEntryBytes ||
            first + count - 1 > std::numeric_limits<std::int32_t>::max())
            break;

        const std::string text = ReadAt(p, count * 20) + "trailer";
        const std::string_view view(text);
        std::size_t s = 0;
        for (std::int64_t k = 0; k < count; ++k) {
            const std::string_view at = s < view.size() ? view.substr(s) : std::string_view();
            const std::int32_t offset = readEntryField(at.substr(0, 10));
            const std::int32_t gen =
                readEntryField(at.size() > 11 ? at.substr(11, 5) : std::string_view());
            const char type = at.size() > 17 ? at[17] : '\0';
            if (OnEntry)
                OnEntry(static_cast<std::int32_t>(first + k), offset, type, gen);
            s += kMinEntryBytes;
            while (s < view.size() && (view[s] == '\n' || view[s] == '\r' || view[s] == ' '))
                ++s;
        }
        p = std::min(size, p + static_cast<std::int64_t>(s));
    }

    const std::string after = ReadAt(p, kTrailerSearch);
    const std::size_t keyword = after.find("trailer");
    if (keyword == std::string::npos)
        return links;
    const std::string_view rest = std::string_view(after).substr(keyword + 7);
    if (rest.find("<<") == std::string_view::npos || rest.find(">>") == std::string_view::npos)
        return links;
    TPDFStructure store;
    const TPDFDictionary* trailer = AsDictionary(store.Parse(rest));
    if (!trailer)
        return links;
    if (OnTrailer)
        OnTrailer(trailer->ToText());
    if (const auto* xrefStm = Cast<TPDFNumeric>(trailer->Get("XRefStm", false))) {
        links.HasXRefStm = true;
        links.XRefStm = xrefStm->IntValue();
    }
    if (const auto* prev = Cast<TPDFNumeric>(trailer->Get("Prev", false))) {
        links.HasPrev = true;
        links.Prev = prev->IntValue();
    }
    links.Ok = true;
    return links;
}

TPDFXRefReader::TSectionLinks TPDFXRefReader::ReadStream(std::int64_t p) {
    TSectionLinks links;
    const std::string head = ReadAt(p, kStreamHead);
    TPDFStructure store;
    TPDFDictionary* dict = AsDictionary(store.Parse(head));
    if (!dict || dict->GetTypeName() != "XRef" || !Cast<TPDFNumeric>(dict->Get("Size", false)))
        return links;

    std::vector<std::pair<std::int64_t, std::int64_t>> subsections;
    if (const TPDFArray* index = AsArray(dict->Get("Index", false))) {
        for (int i = 0; i + 1 < index->Count(); i += 2)
            subsections.emplace_back(intOf(index->Item(i)), intOf(index->Item(i + 1)));
    } else {
        subsections.emplace_back(0, intOf(dict->Get("Size", false)));
    }
    const std::int64_t prev = intOf(dict->Get("Prev", false));

    const TPDFArray* w = AsArray(dict->Get("W", false));
    const std::size_t streamAt = head.find("stream");
    const auto* length = Cast<TPDFNumeric>(dict->Get("Length", false));
    if (w && w->Count() > 2 && streamAt != std::string::npos && length) {
        // Negative widths read nothing, like a width of 0.
        const std::int64_t w1 = std::max<std::int64_t>(0, intOf(w->Item(0)));
        const std::int64_t w2 = std::max<std::int64_t>(0, intOf(w->Item(1)));
        const std::int64_t w3 = std::max<std::int64_t>(0, intOf(w->Item(2)));
        std::size_t dataStart = streamAt + 6;
        if (dataStart < head.size() && head[dataStart] == '\n')
            dataStart += 1;
        else if (dataStart < head.size() && head[dataStart] == '\r')
            dataStart += 2;
        // The data is read in place: a `Length` past the end of the file must not copy the
        // rest of the file for every section of a chain. Unfiltered data is needed only as far
        // as the entries reach.
        const std::int64_t entryBytes = w1 + w2 + w3;
        std::string_view raw = FStream.Data().substr(
            std::min(FStream.Data().size(), static_cast<std::size_t>(p) + dataStart));
        raw = raw.substr(0, static_cast<std::size_t>(std::max(0, length->IntValue())));
        if (!hasDecodingFilter(dict)) {
            std::int64_t needed = 0;
            for (const auto& [first, count] : subsections)
                needed = std::min<std::int64_t>(
                    needed + std::max<std::int64_t>(0, count) * entryBytes, kMaxFileSize64);
            raw = raw.substr(0, static_cast<std::size_t>(needed));
        }
        const std::string decoded = DecodeStreamData(dict, raw);

        // Entries are read while they fit in the decoded bytes: the subsections' counts alone
        // (`Index [0 2147483647]`) bound nothing.
        const std::int64_t entrySize = w1 + w2 + w3;
        std::size_t pos = 0;
        bool full = entrySize == 0;
        for (const auto& [first, count] : subsections) {
            for (std::int64_t k = 0; k < count && !full; ++k) {
                if (static_cast<std::int64_t>(decoded.size() - pos) < entrySize ||
                    first + k > std::numeric_limits<std::int32_t>::max()) {
                    full = true;
                    break;
                }
                const std::uint32_t type = w1 == 0 ? 1 : readField(decoded, pos, w1);
                const auto f2 = static_cast<std::int32_t>(readField(decoded, pos, w2));
                const auto f3 = static_cast<std::int32_t>(readField(decoded, pos, w3));
                const auto objNum = static_cast<std::int32_t>(first + k);
                if (!OnEntry)
                    continue;
                switch (type) {
                case 0:
                    OnEntry(objNum, f2, 'f', f3);
                    break;
                case 1:
                    OnEntry(objNum, f2, 'n', f3);
                    break;
                case 2:
                    OnEntry(objNum, f2, 'c', f3);
                    break;
                default:
                    OnEntry(objNum, 0, ' ', 0);
                    break;
                }
            }
            if (full)
                break;
        }
    }

    if (OnTrailer)
        OnTrailer(dict->ToText());
    links.HasPrev = prev >= 1;
    links.Prev = prev;
    links.Ok = true;
    return links;
}

bool TPDFXRefReader::ReadSection(std::int64_t offset) {
    // The chain is walked with an explicit stack so that a long or hostile chain costs heap,
    // not call stack. A frame reads its own section, then its XRefStm section (result ignored),
    // then its Prev section (whose result is the frame's).
    struct Frame {
        explicit Frame(std::int64_t offset) : Offset(offset) {}
        std::int64_t Offset;
        std::int64_t Position = -1;
        int Stage = 0;
        TSectionLinks Links;
    };
    std::vector<Frame> stack;
    stack.emplace_back(offset);
    bool last = false;

    auto finish = [&](bool result) {
        const Frame& frame = stack.back();
        const TSectionState state = result ? TSectionState::Succeeded : TSectionState::Failed;
        FByOffset[frame.Offset] = state;
        if (frame.Position >= 0)
            FByPosition[frame.Position] = state;
        last = result;
        stack.pop_back();
    };

    while (!stack.empty()) {
        const std::size_t top = stack.size() - 1;
        if (stack[top].Stage == 0) {
            const std::int64_t at = stack[top].Offset;
            auto known = FByOffset.find(at);
            if (known != FByOffset.end()) {
                // A section still being read is a cycle: it fails here, and that answer is not
                // recorded, since the section itself may yet succeed.
                last = known->second == TSectionState::Succeeded;
                stack.pop_back();
                continue;
            }
            if (OnSection)
                OnSection(clampToInt32(at));
            bool isStream = false;
            std::int64_t position = 0;
            if (!LocateSection(at, isStream, position)) {
                finish(false);
                continue;
            }
            auto seen = FByPosition.find(position);
            if (seen != FByPosition.end()) {
                if (seen->second == TSectionState::Reading) {
                    last = false;
                    stack.pop_back();
                } else {
                    finish(seen->second == TSectionState::Succeeded);
                }
                continue;
            }
            FByOffset[at] = TSectionState::Reading;
            FByPosition[position] = TSectionState::Reading;
            stack[top].Position = position;
            stack[top].Links = isStream ? ReadStream(position) : ReadTable(position);
            if (!stack[top].Links.Ok) {
                finish(false);
                continue;
            }
            stack[top].Stage = 1;
            if (stack[top].Links.HasXRefStm) {
                const std::int64_t next = stack[top].Links.XRefStm;
                stack.emplace_back(next);
                continue;
            }
        }
        if (stack[top].Stage == 1) {
            stack[top].Stage = 2;
            if (stack[top].Links.HasPrev) {
                const std::int64_t next = stack[top].Links.Prev;
                stack.emplace_back(next);
                continue;
            }
            finish(true);
            continue;
        }
        finish(last);
    }
    return last;
}

} // namespace korvel
