#include "fonts/uPDFCIDMaps.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <queue>

#include "file/uPDFExtra.h"
#include "platform/uCodePage.h"

namespace korvel {

// ---------------------------------------------------------------------------------------------
// Ranges

bool TPDFCodeRanges::Add(std::uint64_t first, std::uint64_t last, std::uint32_t value) {
    if (last < first)
        return true;
    if (FRanges.size() >= TPDFCMapLibrary::kMaxRanges)
        return false;
    FRanges.push_back({first, last, value});
    return true;
}

void TPDFCodeRanges::Finish() {
    // A sweep over the range ends: between two consecutive ends the range added last among
    // those open answers.
    std::vector<std::pair<std::uint64_t, std::int64_t>> events; // position, index or ~index
    events.reserve(2 * FRanges.size());
    for (std::size_t i = 0; i < FRanges.size(); ++i) {
        events.emplace_back(FRanges[i].First, std::int64_t(i));
        events.emplace_back(FRanges[i].Last + 1, ~std::int64_t(i));
    }
    std::sort(events.begin(), events.end());
    std::priority_queue<std::int64_t> open;
    std::vector<bool> closed(FRanges.size(), false);
    FSegments.clear();
    for (std::size_t e = 0; e < events.size();) {
        const std::uint64_t at = events[e].first;
        for (; e < events.size() && events[e].first == at; ++e) {
            if (events[e].second >= 0)
                open.push(events[e].second);
            else
                closed[std::size_t(~events[e].second)] = true;
        }
        while (!open.empty() && closed[std::size_t(open.top())])
            open.pop();
        if (!FSegments.empty() && FSegments.back().Last == ~std::uint64_t{0})
            FSegments.back().Last = at - 1; // the open segment ends here
        if (open.empty())
            continue;
        const std::uint32_t owner = std::uint32_t(open.top());
        if (!FSegments.empty() && FSegments.back().Value == owner &&
            FSegments.back().Last + 1 == at)
            FSegments.back().Last = ~std::uint64_t{0};
        else
            FSegments.push_back({at, ~std::uint64_t{0}, owner});
    }
}

const TPDFCodeRanges::TRange* TPDFCodeRanges::Find(std::uint64_t key) const {
    const auto it = std::upper_bound(FSegments.begin(), FSegments.end(), key,
                                     [](std::uint64_t k, const TRange& s) { return k < s.First; });
    if (it == FSegments.begin())
        return nullptr;
    const TRange& segment = *(it - 1);
    return key <= segment.Last ? &FRanges[segment.Value] : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Maps

TPDFCode TPDFCodeMap::Next(std::string_view bytes, std::size_t pos) const {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (FIdentity) {
        if (pos + 1 < bytes.size())
            return {std::uint32_t(byte(pos) << 8 | byte(pos + 1)), 2};
        return {byte(pos), 1};
    }
    std::uint32_t value = 0;
    for (std::uint8_t n = 1; n <= 4 && pos + n - 1 < bytes.size(); ++n) {
        value = value << 8 | byte(pos + n - 1);
        for (const TSpace& space : FSpaces) {
            if (space.Length != n)
                continue;
            bool inside = true;
            for (std::uint8_t i = 0; i < n && inside; ++i)
                inside = space.Low[i] <= byte(pos + i) && byte(pos + i) <= space.High[i];
            if (inside)
                return {value, n};
        }
    }
    return {byte(pos), 1};
}

std::optional<std::uint32_t> TPDFCodeMap::CID(TPDFCode code) const {
    if (FIdentity)
        return code.Length == 2 ? std::optional<std::uint32_t>(code.Value) : std::nullopt;
    const std::uint64_t key = std::uint64_t(code.Length) << 32 | code.Value;
    if (const TPDFCodeRanges::TRange* range = FCIDs.Find(key))
        return std::uint32_t(range->Value + (key - range->First));
    if (const TPDFCodeRanges::TRange* range = FNotDef.Find(key))
        return range->Value;
    return std::nullopt;
}

std::shared_ptr<const TPDFCodeMap> TPDFCodeMap::Identity(bool vertical) {
    static const auto kMaps = [] {
        std::array<std::shared_ptr<const TPDFCodeMap>, 2> maps;
        for (int v = 0; v < 2; ++v) {
            auto map = std::make_shared<TPDFCodeMap>();
            map->FIdentity = true;
            map->FVertical = v == 1;
            map->FSpaces.push_back({2, {0, 0, 0, 0}, {0xFF, 0xFF, 0, 0}});
            maps[std::size_t(v)] = std::move(map);
        }
        return maps;
    }();
    return kMaps[vertical ? 1 : 0];
}

bool TPDFUnicodeMap::AppendText(std::string& out, std::uint32_t code) const {
    const TPDFCodeRanges::TRange* range = FRanges.Find(code);
    if (!range)
        return false;
    const std::u16string& target = FTargets[range->Value];
    std::uint16_t units[64]; // targets are at most 64 units (hexUnits)
    const std::size_t count = std::min(target.size(), std::size(units));
    if (count == 0)
        return false;
    std::copy_n(target.begin(), count, units);
    units[count - 1] = std::uint16_t(units[count - 1] + (code - range->First));
    AppendUtf16AsUtf8(out, units, count);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Reading CMap files

namespace {

struct TToken {
    enum TKind { End, Hex, Name, Number, Word, Open, Close, Other } Kind = End;
    std::string_view Text; // without the delimiters of a hex string or the slash of a name
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0';
}
bool isDelimiter(char c) {
    return isSpace(c) || c == '<' || c == '>' || c == '[' || c == ']' || c == '(' || c == ')' ||
           c == '/' || c == '{' || c == '}' || c == '%';
}

class TScanner {
public:
    explicit TScanner(std::string_view text) : FText(text) {}

    TToken Next() {
        for (;;) {
            while (FPos < FText.size() && isSpace(FText[FPos]))
                ++FPos;
            if (FPos >= FText.size())
                return {};
            const char c = FText[FPos];
            if (c == '%') {
                while (FPos < FText.size() && FText[FPos] != '\n' && FText[FPos] != '\r')
                    ++FPos;
                continue;
            }
            if (c == '(') { // a string: skipped, nesting and escapes honoured
                int depth = 0;
                for (; FPos < FText.size(); ++FPos) {
                    if (FText[FPos] == '\\')
                        ++FPos;
                    else if (FText[FPos] == '(')
                        ++depth;
                    else if (FText[FPos] == ')' && --depth == 0)
                        break;
                }
                ++FPos;
                return {TToken::Other, {}};
            }
            if (c == '<') {
                if (FPos + 1 < FText.size() && FText[FPos + 1] == '<') {
                    FPos += 2;
                    return {TToken::Other, {}};
                }
                const std::size_t close = FText.find('>', FPos);
                const std::size_t end = close == std::string_view::npos ? FText.size() : close;
                const std::string_view digits = FText.substr(FPos + 1, end - FPos - 1);
                FPos = end + 1;
                return {TToken::Hex, digits};
            }
            if (c == '>') {
                FPos += FPos + 1 < FText.size() && FText[FPos + 1] == '>' ? 2 : 1;
                return {TToken::Other, {}};
            }
            if (c == '[' || c == ']' || c == '{' || c == '}' || c == ')') {
                ++FPos;
                return {c == '[' ? TToken::Open : c == ']' ? TToken::Close : TToken::Other, {}};
            }
            const bool name = c == '/';
            const std::size_t from = name ? FPos + 1 : FPos;
            std::size_t to = from;
            while (to < FText.size() && !isDelimiter(FText[to]))
                ++to;
            FPos = std::max(to, FPos + 1);
            const std::string_view word = FText.substr(from, to - from);
            if (name)
                return {TToken::Name, word};
            const bool number = !word.empty() && std::all_of(word.begin(), word.end(), [](char d) {
                return (d >= '0' && d <= '9') || d == '-' || d == '+' || d == '.';
            });
            return {number ? TToken::Number : TToken::Word, word};
        }
    }

private:
    std::string_view FText;
    std::size_t FPos = 0;
};

// The bytes of a hex string (an odd last digit counts as its high half); nullopt past `limit`
// bytes or for a character that is not a digit.
std::optional<std::vector<std::uint8_t>> hexBytes(std::string_view digits, std::size_t limit) {
    std::vector<std::uint8_t> bytes;
    int half = -1;
    for (const char c : digits) {
        if (isSpace(c))
            continue;
        const int d = HexDigitValue(static_cast<unsigned char>(c));
        if (d < 0)
            return std::nullopt;
        if (half < 0) {
            half = d;
        } else {
            bytes.push_back(std::uint8_t(half << 4 | d));
            half = -1;
        }
        if (bytes.size() > limit)
            return std::nullopt;
    }
    if (half >= 0)
        bytes.push_back(std::uint8_t(half << 4));
    if (bytes.empty() || bytes.size() > limit)
        return std::nullopt;
    return bytes;
}

std::optional<TPDFCode> hexCode(const TToken& token) {
    if (token.Kind != TToken::Hex)
        return std::nullopt;
    const auto bytes = hexBytes(token.Text, 4);
    if (!bytes)
        return std::nullopt;
    TPDFCode code;
    code.Length = std::uint8_t(bytes->size());
    for (const std::uint8_t b : *bytes)
        code.Value = code.Value << 8 | b;
    return code;
}

std::optional<std::uint32_t> number(const TToken& token) {
    if (token.Kind != TToken::Number || token.Text.empty() || token.Text.size() > 9)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : token.Text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + std::uint32_t(c - '0');
    }
    return value;
}

std::u16string hexUnits(const TToken& token) {
    std::u16string units;
    if (token.Kind != TToken::Hex)
        return units;
    const auto bytes = hexBytes(token.Text, 128);
    if (!bytes)
        return units;
    for (std::size_t i = 0; i + 1 < bytes->size(); i += 2)
        units.push_back(char16_t((*bytes)[i] << 8 | (*bytes)[i + 1]));
    if (bytes->size() % 2 == 1) // a one-byte target is its own unit
        units.push_back(char16_t(bytes->back()));
    return units;
}

std::string defaultFolder() {
    return "/usr/share/poppler/cMap";
}

std::mutex& folderMutex() {
    static std::mutex m;
    return m;
}
std::string& folderOverride() {
    static std::string folder;
    return folder;
}

bool validName(std::string_view name) {
    if (name.empty() || name.size() > 64 || name.front() == '.')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.' || c == '+';
    });
}

// The file of a predefined map: in the folder, else in one of its subfolders (by name order).
std::optional<std::string> readMapFile(const std::string& folder, std::string_view name) {
    namespace fs = std::filesystem;
    if (!validName(name) || folder.empty())
        return std::nullopt;
    std::error_code error;
    std::vector<fs::path> candidates{fs::path(folder) / std::string(name)};
    std::vector<fs::path> subfolders;
    fs::directory_iterator it(folder, error);
    for (std::size_t n = 0; !error && it != fs::directory_iterator() && n < 256;
         it.increment(error), ++n)
        if (it->is_directory(error))
            subfolders.push_back(it->path());
    std::sort(subfolders.begin(), subfolders.end());
    for (const fs::path& sub : subfolders)
        candidates.push_back(sub / std::string(name));
    for (const fs::path& path : candidates) {
        if (!fs::is_regular_file(path, error))
            continue;
        const std::uintmax_t size = fs::file_size(path, error);
        if (error || size > TPDFCMapLibrary::kMaxFileSize)
            continue;
        std::ifstream in(path, std::ios::binary);
        std::string data(static_cast<std::size_t>(size), '\0');
        if (in.read(data.data(), static_cast<std::streamsize>(size)))
            return data;
    }
    return std::nullopt;
}

template <typename T> class TCache {
public:
    std::optional<std::shared_ptr<const T>> Find(const std::string& key) {
        std::lock_guard lock(FMutex);
        const auto it = FMaps.find(key);
        if (it == FMaps.end())
            return std::nullopt;
        return it->second;
    }
    void Insert(const std::string& key, std::shared_ptr<const T> map) {
        std::lock_guard lock(FMutex);
        if (FMaps.size() < TPDFCMapLibrary::kMaxCached)
            FMaps.emplace(key, std::move(map));
    }

private:
    std::mutex FMutex;
    std::map<std::string, std::shared_ptr<const T>> FMaps;
};

TCache<TPDFCodeMap>& codeMaps() {
    static TCache<TPDFCodeMap> cache;
    return cache;
}
TCache<TPDFUnicodeMap>& unicodeMaps() {
    static TCache<TPDFUnicodeMap> cache;
    return cache;
}

std::shared_ptr<const TPDFCodeMap> predefined(std::string_view name, int depth);

} // namespace

class TCMapReader {
public:
    // Real maps have up to five codespace ranges; each code is matched against all of them.
    static constexpr std::size_t kMaxSpaces = 32;

    explicit TCMapReader(int depth) : FDepth(depth) {}

    void ReadCodes(std::string_view data, TPDFCodeMap& map) const {
        TScanner scanner(data);
        TToken previous;
        bool full = false;
        for (TToken token = scanner.Next(); token.Kind != TToken::End && !full;
             previous = token, token = scanner.Next()) {
            if (token.Kind == TToken::Number && previous.Kind == TToken::Name &&
                previous.Text == "WMode") {
                map.FVertical = token.Text == "1";
            } else if (token.Kind != TToken::Word) {
                continue;
            } else if (token.Text == "usecmap" && previous.Kind == TToken::Name) {
                if (FDepth < TPDFCMapLibrary::kMaxUseDepth)
                    if (const auto parent = predefined(previous.Text, FDepth + 1))
                        full = !Inherit(*parent, map);
            } else if (token.Text == "begincodespacerange") {
                for (;;) {
                    const auto low = hexCode(scanner.Next());
                    const auto high = low ? hexCode(scanner.Next()) : std::nullopt;
                    if (!low || !high)
                        break;
                    if (low->Length != high->Length || map.FSpaces.size() >= kMaxSpaces)
                        continue;
                    TPDFCodeMap::TSpace space;
                    space.Length = low->Length;
                    for (std::uint8_t i = 0; i < low->Length; ++i) {
                        const int shift = 8 * (low->Length - 1 - i);
                        space.Low[i] = std::uint8_t(low->Value >> shift);
                        space.High[i] = std::uint8_t(high->Value >> shift);
                    }
                    map.FSpaces.push_back(space);
                }
            } else if (token.Text == "begincidrange" || token.Text == "beginnotdefrange") {
                TPDFCodeRanges& ranges = token.Text == "begincidrange" ? map.FCIDs : map.FNotDef;
                for (;;) {
                    const auto low = hexCode(scanner.Next());
                    const auto high = low ? hexCode(scanner.Next()) : std::nullopt;
                    const auto cid = high ? number(scanner.Next()) : std::nullopt;
                    if (!cid)
                        break;
                    if (low->Length == high->Length && !ranges.Add(key(*low), key(*high), *cid)) {
                        full = true;
                        break;
                    }
                }
            } else if (token.Text == "begincidchar" || token.Text == "beginnotdefchar") {
                TPDFCodeRanges& ranges = token.Text == "begincidchar" ? map.FCIDs : map.FNotDef;
                for (;;) {
                    const auto code = hexCode(scanner.Next());
                    const auto cid = code ? number(scanner.Next()) : std::nullopt;
                    if (!cid)
                        break;
                    if (!ranges.Add(key(*code), key(*code), *cid)) {
                        full = true;
                        break;
                    }
                }
            }
        }
        map.FCIDs.Finish();
        map.FNotDef.Finish();
    }

    void ReadUnicode(std::string_view data, TPDFUnicodeMap& map) const {
        TScanner scanner(data);
        bool full = false;
        const auto add = [&](std::uint32_t first, std::uint32_t last, std::u16string target) {
            if (target.empty())
                return;
            if (!map.FRanges.Add(first, last, std::uint32_t(map.FTargets.size()))) {
                full = true;
                return;
            }
            map.FTargets.push_back(std::move(target));
        };
        for (TToken token = scanner.Next(); token.Kind != TToken::End && !full;
             token = scanner.Next()) {
            if (token.Kind != TToken::Word)
                continue;
            if (token.Text == "beginbfrange") {
                while (!full) {
                    const auto low = hexCode(scanner.Next());
                    const auto high = low ? hexCode(scanner.Next()) : std::nullopt;
                    if (!high)
                        break;
                    const TToken target = scanner.Next();
                    if (target.Kind == TToken::Open) {
                        // Each code of the range its own target, in order.
                        std::uint32_t code = low->Value;
                        for (TToken item = scanner.Next(); item.Kind == TToken::Hex && !full;
                             item = scanner.Next()) {
                            if (code <= high->Value)
                                add(code, code, hexUnits(item));
                            ++code;
                        }
                        continue;
                    }
                    if (target.Kind != TToken::Hex)
                        break;
                    add(low->Value, high->Value, hexUnits(target));
                }
            } else if (token.Text == "beginbfchar") {
                while (!full) {
                    const auto code = hexCode(scanner.Next());
                    const TToken target = code ? scanner.Next() : TToken{};
                    if (target.Kind != TToken::Hex)
                        break;
                    add(code->Value, code->Value, hexUnits(target));
                }
            }
        }
        map.FRanges.Finish();
    }

private:
    static std::uint64_t key(TPDFCode code) {
        return std::uint64_t(code.Length) << 32 | code.Value;
    }

    // The parent's codespaces and ranges, before the map's own; false when the map is full.
    static bool Inherit(const TPDFCodeMap& parent, TPDFCodeMap& map) {
        if (parent.FIdentity) {
            for (std::uint32_t high = 0; high < 256; ++high)
                if (!map.FCIDs.Add(2ull << 32 | high << 8, 2ull << 32 | high << 8 | 0xFF,
                                   high << 8))
                    return false;
        }
        for (const TPDFCodeMap::TSpace& space : parent.FSpaces)
            if (map.FSpaces.size() < kMaxSpaces)
                map.FSpaces.push_back(space);
        for (const auto& range : parent.FCIDs.Ranges())
            if (!map.FCIDs.Add(range.First, range.Last, range.Value))
                return false;
        for (const auto& range : parent.FNotDef.Ranges())
            if (!map.FNotDef.Add(range.First, range.Last, range.Value))
                return false;
        return true;
    }

    int FDepth;
};

namespace {

std::shared_ptr<const TPDFCodeMap> predefined(std::string_view name, int depth) {
    if (name == "Identity-H" || name == "Identity-V")
        return TPDFCodeMap::Identity(name.back() == 'V');
    const std::string folder = TPDFCMapLibrary::Folder();
    const std::string cacheKey = folder + '\n' + std::string(name);
    if (auto hit = codeMaps().Find(cacheKey))
        return *hit;
    std::shared_ptr<TPDFCodeMap> map;
    if (const auto data = readMapFile(folder, name)) {
        map = std::make_shared<TPDFCodeMap>();
        TCMapReader(depth).ReadCodes(*data, *map);
        if (map->Empty())
            map.reset();
    }
    codeMaps().Insert(cacheKey, map);
    return map;
}

} // namespace

std::shared_ptr<const TPDFCodeMap> TPDFCMapLibrary::Predefined(std::string_view name) {
    return predefined(name, 0);
}

std::shared_ptr<const TPDFCodeMap> TPDFCMapLibrary::Embedded(std::string_view data) {
    auto map = std::make_shared<TPDFCodeMap>();
    TCMapReader(0).ReadCodes(data, *map);
    if (map->Empty())
        return nullptr;
    return map;
}

std::shared_ptr<const TPDFUnicodeMap> TPDFCMapLibrary::Collection(std::string_view ordering) {
    static constexpr std::string_view kOrderings[] = {"GB1", "CNS1", "Japan1", "Korea1", "KR"};
    if (std::find(std::begin(kOrderings), std::end(kOrderings), ordering) == std::end(kOrderings))
        return nullptr;
    const std::string name = "Adobe-" + std::string(ordering) + "-UCS2";
    const std::string folder = Folder();
    const std::string cacheKey = folder + '\n' + name;
    if (auto hit = unicodeMaps().Find(cacheKey))
        return *hit;
    std::shared_ptr<TPDFUnicodeMap> map;
    if (const auto data = readMapFile(folder, name)) {
        map = std::make_shared<TPDFUnicodeMap>();
        TCMapReader(0).ReadUnicode(*data, *map);
        if (map->Empty())
            map.reset();
    }
    unicodeMaps().Insert(cacheKey, map);
    return map;
}

std::shared_ptr<const TPDFUnicodeMap> TPDFCMapLibrary::ToUnicode(std::string_view data) {
    auto map = std::make_shared<TPDFUnicodeMap>();
    TCMapReader(0).ReadUnicode(data, *map);
    return map;
}

std::string TPDFCMapLibrary::Folder() {
    {
        std::lock_guard lock(folderMutex());
        if (!folderOverride().empty())
            return folderOverride();
    }
    if (const char* fromEnvironment = std::getenv("KORVEL_CMAP_DIR");
        fromEnvironment && *fromEnvironment)
        return fromEnvironment;
    return defaultFolder();
}

void SetCMapFolder(std::string folder) {
    std::lock_guard lock(folderMutex());
    folderOverride() = std::move(folder);
}

} // namespace korvel
