#include "fonts/uPDFCMap.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <queue>

#include "file/uPDFExtra.h"

namespace korvel {

namespace {

constexpr std::size_t kCodeCount = 65536;

// The UTF-16 units of a well-formed hexadecimal target, grouped by four digits from the right
// with leading zero digits dropped; empty when the token is malformed or longer than the bound.
std::vector<std::uint16_t> hexUnits(std::string_view digits) {
    std::vector<std::uint16_t> units;
    std::size_t start = 0;
    while (start < digits.size() && digits[start] == '0')
        ++start;
    const std::string_view significant = digits.substr(start);
    if (significant.size() <= 4 || significant.size() > 4 * TPDFCMap::kMaxTargetUnits)
        return units;
    for (char c : significant)
        if (HexDigitValue(static_cast<unsigned char>(c)) < 0)
            return units;
    std::size_t head = significant.size() % 4;
    if (head == 0)
        head = 4;
    std::size_t at = 0;
    for (std::size_t width = head; at < significant.size(); at += width, width = 4) {
        std::uint16_t unit = 0;
        for (std::size_t i = at; i < at + width; ++i)
            unit = std::uint16_t(unit * 16 +
                                 HexDigitValue(static_cast<unsigned char>(significant[i])));
        units.push_back(unit);
    }
    return units;
}

struct THexToken {
    // The token as a signed 32-bit pattern; -1 when it is empty, holds a character that is not
    // a digit, or needs more than 32 bits.
    std::int32_t Value = -1;
    // Well-formed digits that need all 32 bits or more: as a target such a token is a sequence
    // of UTF-16 units (a surrogate pair, a long ligature), valid although Value is negative.
    bool Wide = false;
    // The unit a target stores: the low 16 bits of Value, or the last unit of a wide token.
    std::uint16_t Unit = 0xFFFF;
    std::string_view Digits;
};

THexToken readHex(std::string_view digits) {
    THexToken token;
    token.Digits = digits;
    if (digits.empty())
        return token;
    std::uint64_t value = 0;
    std::uint16_t last = 0;
    bool over = false;
    for (char c : digits) {
        const int d = HexDigitValue(static_cast<unsigned char>(c));
        if (d < 0)
            return token;
        last = std::uint16_t(last * 16 + d);
        value = over ? value : value * 16 + std::uint64_t(d);
        over = over || value > 0xFFFFFFFFu;
    }
    token.Wide = over || value > 0x7FFFFFFFu;
    token.Unit = last;
    if (!over)
        token.Value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return token;
}

// The cursor text of a section. A token is the text between the first "<" and the first ">";
// when there is no "<" before the first ">" the cursor is emptied and the token reads as -1.
class TTokenCursor {
public:
    explicit TTokenCursor(std::string_view text) : FText(text) {}

    THexToken Next() {
        const std::size_t close = FText.find('>', FPos);
        if (close == std::string_view::npos) {
            FPos = FText.size();
            return {};
        }
        const void* open = std::memchr(FText.data() + FPos, '<', close - FPos);
        if (open == nullptr) {
            FPos = FText.size();
            return {};
        }
        const std::size_t from = std::size_t(static_cast<const char*>(open) - FText.data()) + 1;
        const std::string_view digits = FText.substr(from, close - from);
        FPos = close + 1;
        return readHex(digits);
    }

    // When the next non-blank character opens an array (`[`), the text up to its `]` (or to
    // the end) as a cursor of its own, and this cursor moves past it.
    std::optional<TTokenCursor> NextArray() {
        std::size_t at = FPos;
        while (at < FText.size() && (FText[at] == ' ' || FText[at] == '\t' || FText[at] == '\r' ||
                                     FText[at] == '\n' || FText[at] == '\f' || FText[at] == 0))
            ++at;
        if (at >= FText.size() || FText[at] != '[')
            return std::nullopt;
        const std::size_t close = std::min(FText.find(']', at + 1), FText.size());
        TTokenCursor items(FText.substr(at + 1, close - at - 1));
        FPos = std::min(close + 1, FText.size());
        return items;
    }

private:
    std::string_view FText;
    std::size_t FPos = 0;
};

// The text between the first `begin` keyword and the first `end` keyword, starting `skip`
// characters after the begin keyword; nullopt when either is missing or the end does not come
// after the begin.
std::optional<std::string_view> section(std::string_view data, std::string_view begin,
                                        std::string_view end, std::size_t skip) {
    const std::size_t b = data.find(begin);
    const std::size_t e = data.find(end);
    if (b == std::string_view::npos || e == std::string_view::npos || e <= b)
        return std::nullopt;
    const std::size_t from = std::min(b + begin.size() + skip, e);
    return data.substr(from, e - from);
}

void appendFromToken(TPDFCMap& map, std::uint16_t first, std::uint16_t last,
                     const THexToken& target) {
    const std::vector<std::uint16_t> units = hexUnits(target.Digits);
    map.Append(first, last, target.Unit, units);
}

// A Fenwick tree of counts.
class TCounts {
public:
    explicit TCounts(std::size_t size) : FTree(size + 1, 0) {}
    void Fill() {
        // All ones, built in linear time.
        for (std::size_t i = 1; i < FTree.size(); ++i) {
            FTree[i] += 1;
            const std::size_t parent = i + (i & (~i + 1));
            if (parent < FTree.size())
                FTree[parent] += FTree[i];
        }
    }
    void Add(std::size_t index, std::int32_t delta) {
        for (std::size_t i = index + 1; i < FTree.size(); i += i & (~i + 1))
            FTree[i] += delta;
    }
    // The sum of the counts before index.
    std::uint32_t Before(std::size_t index) const {
        std::int64_t sum = 0;
        for (std::size_t i = index; i > 0; i -= i & (~i + 1))
            sum += FTree[i];
        return std::uint32_t(sum);
    }
    // The index of the (k + 1)-th unit of count (k counted from 0); counts are 0 or 1.
    std::size_t Select(std::uint32_t k) const {
        std::size_t pos = 0;
        std::size_t step = 1;
        while (step * 2 < FTree.size())
            step *= 2;
        std::int64_t rest = k;
        for (; step > 0; step /= 2)
            if (pos + step < FTree.size() && FTree[pos + step] <= rest) {
                pos += step;
                rest -= FTree[pos];
            }
        return pos;
    }

private:
    std::vector<std::int32_t> FTree;
};

} // namespace

void TPDFCMap::Append(std::uint16_t first, std::uint16_t last, std::uint16_t target,
                      std::span<const std::uint16_t> units) {
    TPDFCMapRange range{first, last, target, 0};
    if (units.size() > 1 && units.size() <= kMaxTargetUnits) {
        FUnitRefs.emplace_back(std::uint32_t(FUnitData.size()), std::uint32_t(units.size()));
        FUnitData.insert(FUnitData.end(), units.begin(), units.end());
        range.Units = std::uint32_t(FUnitRefs.size());
    }
    if (!FRanges.empty() && first < FRanges.back().First)
        FSorted = false;
    FRanges.push_back(range);
    FIndexed = false;
}

// The exchange sort moves, in each pass, the chain of strictly falling values one step along
// the chain and the minimum to the front. Seen from the ranges of one value v (larger values
// play no part in their order), the ranges of v that were met so far form
// a queue: another range of v joins at the back, and every smaller value met after the first
// range of v moves the queue's front to its back. The queue at the end is their final order.
// The queue is replayed with insert positions into a circular list, resolved backwards with a
// Fenwick tree.
void TPDFCMap::Sort() {
    if (FSorted)
        return;
    const std::size_t n = FRanges.size();
    // The ranges in the order of First, each value's ranges in array order.
    std::vector<std::uint32_t> members(n);
    for (std::size_t j = 0; j < n; ++j)
        members[j] = std::uint32_t(j);
    std::stable_sort(members.begin(), members.end(), [this](std::uint32_t x, std::uint32_t y) {
        return FRanges[x].First < FRanges[y].First;
    });
    // Each range's value as a rank among the distinct values; groupStart[k] is where value k
    // starts in `members`, which is also how many ranges have a smaller First.
    std::vector<std::uint32_t> rank(n), groupStart;
    for (std::size_t t = 0; t < n; ++t) {
        if (t == 0 || FRanges[members[t]].First != FRanges[members[t - 1]].First)
            groupStart.push_back(std::uint32_t(t));
        rank[members[t]] = std::uint32_t(groupStart.size() - 1);
    }
    groupStart.push_back(std::uint32_t(n));
    std::vector<TPDFCMapRange> sorted(n);
    if (groupStart.size() == n + 1) {
        for (std::size_t t = 0; t < n; ++t)
            sorted[t] = FRanges[members[t]];
    } else {
        // For each range, how many ranges before it have a smaller First.
        std::vector<std::uint32_t> smallerBefore(n);
        TCounts seen(groupStart.size());
        for (std::size_t j = 0; j < n; ++j) {
            smallerBefore[j] = seen.Before(rank[j]);
            seen.Add(rank[j], 1);
        }
        std::vector<std::uint32_t> insertAt, slots;
        for (std::size_t k = 0; k + 1 < groupStart.size(); ++k) {
            const std::uint32_t begin = groupStart[k];
            const std::uint32_t count = groupStart[k + 1] - begin;
            if (count == 1) {
                sorted[begin] = FRanges[members[begin]];
                continue;
            }
            insertAt.assign(count, 0);
            std::uint64_t front = 0;
            for (std::uint32_t m = 0; m < count; ++m) {
                if (m > 0) {
                    const std::uint64_t turns =
                        smallerBefore[members[begin + m]] - smallerBefore[members[begin + m - 1]];
                    front = (front + turns) % m;
                }
                insertAt[m] = std::uint32_t(front); // joins at the back: just before the front
                front = (front + 1) % (m + 1);
            }
            // Every smaller value after the last range of the group turns the queue once more.
            const std::uint64_t turns = begin - smallerBefore[members[begin + count - 1]];
            front = (front + turns) % count;
            // Resolve the insert positions into places of the final circular list.
            slots.assign(count, 0);
            TCounts free(count);
            free.Fill();
            for (std::uint32_t m = count; m-- > 0;) {
                const std::size_t slot = free.Select(insertAt[m]);
                free.Add(slot, -1);
                slots[slot] = members[begin + m];
            }
            for (std::uint32_t t = 0; t < count; ++t)
                sorted[begin + t] = FRanges[slots[(front + t) % count]];
        }
    }
    FRanges = std::move(sorted);
    FSorted = true;
    FIndexed = false;
}

void TPDFCMap::AppendText(std::string& out, std::size_t index, std::uint16_t offset,
                          TTextEncoding encoding) const {
    const TPDFCMapRange& range = FRanges[index];
    const auto append = encoding == TTextEncoding::Cp1252 ? AppendUtf16AsCp1252 : AppendUtf16AsUtf8;
    if (range.Units == 0) {
        const std::uint16_t unit = std::uint16_t(range.Target + offset);
        append(out, &unit, 1);
        return;
    }
    const auto [at, count] = FUnitRefs[range.Units - 1];
    std::uint16_t units[kMaxTargetUnits];
    std::copy_n(FUnitData.begin() + at, count, units);
    units[count - 1] = std::uint16_t(units[count - 1] + offset);
    append(out, units, count);
}

std::int32_t TPDFCMap::FindRange(std::uint16_t code) const {
    if (!FIndexed) {
        // A sweep over the range ends: between two consecutive ends the first range in array
        // order among those open answers. Ranges with Last < First hold no code.
        std::vector<std::pair<std::uint32_t, std::int32_t>> events; // position, ~index to close
        events.reserve(2 * FRanges.size());
        for (std::size_t i = 0; i < FRanges.size(); ++i)
            if (FRanges[i].First <= FRanges[i].Last) {
                events.emplace_back(FRanges[i].First, std::int32_t(i));
                events.emplace_back(std::uint32_t(FRanges[i].Last) + 1, ~std::int32_t(i));
            }
        std::sort(events.begin(), events.end());
        std::priority_queue<std::int32_t, std::vector<std::int32_t>, std::greater<>> open;
        std::vector<bool> closed(FRanges.size(), false);
        FSegStart.assign(1, 0);
        FSegRange.assign(1, -1);
        for (std::size_t e = 0; e < events.size();) {
            const std::uint32_t at = events[e].first;
            for (; e < events.size() && events[e].first == at; ++e) {
                if (events[e].second >= 0)
                    open.push(events[e].second);
                else
                    closed[std::size_t(~events[e].second)] = true;
            }
            while (!open.empty() && closed[std::size_t(open.top())])
                open.pop();
            const std::int32_t owner = open.empty() ? -1 : open.top();
            if (at >= kCodeCount || owner == FSegRange.back())
                continue;
            if (FSegStart.back() == at) {
                FSegRange.back() = owner;
            } else {
                FSegStart.push_back(at);
                FSegRange.push_back(owner);
            }
        }
        FIndexed = true;
    }
    const auto it = std::upper_bound(FSegStart.begin(), FSegStart.end(), std::uint32_t(code));
    return FSegRange[std::size_t(it - FSegStart.begin()) - 1];
}

TPDFCMap ParseToUnicode(std::string_view data) {
    TPDFCMap map;
    // The character right after "begincodespacerange" is skipped, so a token written directly
    // after the keyword loses its "<".
    const auto space = section(data, "begincodespacerange", "endcodespacerange", 1);
    if (!space)
        return map;
    TTokenCursor spaceCursor(*space);
    const std::int32_t low = spaceCursor.Next().Value;
    const std::int32_t high = spaceCursor.Next().Value;
    if (low == -1 || high == -1)
        return map;

    if (const auto ranges = section(data, "beginbfrange", "endbfrange", 0)) {
        TTokenCursor cursor(*ranges);
        for (;;) {
            const THexToken lo = cursor.Next();
            const THexToken hi = cursor.Next();
            if (lo.Value >= 0 && hi.Value >= 0) {
                // An array of targets gives each code of the range its own target, in order.
                // (Reading its tokens as further triples would map unrelated codes to pieces of
                // ligatures.)
                if (std::optional<TTokenCursor> items = cursor.NextArray()) {
                    for (std::int64_t code = lo.Value;
                         code <= std::min<std::int64_t>(hi.Value, 0xFFFF); ++code) {
                        const THexToken target = items->Next();
                        if (target.Value < 0 && !target.Wide)
                            break;
                        appendFromToken(map, std::uint16_t(code), std::uint16_t(code), target);
                    }
                    continue;
                }
            }
            const THexToken target = cursor.Next();
            if (lo.Value < 0 || hi.Value < 0)
                break;
            // A missing or malformed target (-1) keeps its low 16 bits: 65535.
            appendFromToken(map, std::uint16_t(lo.Value), std::uint16_t(hi.Value), target);
        }
    }
    if (const auto chars = section(data, "beginbfchar", "endbfchar", 0)) {
        TTokenCursor cursor(*chars);
        for (;;) {
            const THexToken code = cursor.Next();
            const THexToken target = cursor.Next();
            if (code.Value < 0 || (target.Value < 0 && !target.Wide))
                break;
            // Code 0 and target 0 are skipped, the section goes on.
            if (code.Value > 0 && (target.Value > 0 || target.Wide))
                appendFromToken(map, std::uint16_t(code.Value), std::uint16_t(code.Value), target);
        }
    }
    return map;
}

namespace {

// The walk over the codes 0..255 of a sorted map. The current range is searched forward only
// when a code passes its end; a range found that way counts from its Target for the first code
// it is used for, whatever its First. Ranges skipped because they end before some code also
// end before every later one, so the search resumes past them.
void walkSingleBytes(const TPDFCMap& map, TPDFTextVector& text, TTextEncoding encoding) {
    const std::vector<TPDFCMapRange>& ranges = map.Ranges();
    const std::size_t count = ranges.size();
    std::size_t a = 0, used = 0, resume = 0;
    std::uint16_t n = 0;
    for (std::uint32_t c = 0; c < 256; ++c) {
        if (a >= count || c < ranges[a].First)
            continue;
        if (c > ranges[a].Last) {
            n = 0;
            std::size_t i = std::max(resume, a + 1);
            while (i < count && ranges[i].Last < c)
                ++i;
            resume = i;
            a = i < count && ranges[i].First <= c ? i : count;
        }
        if (a < count && ranges[a].First <= c && c <= ranges[a].Last) {
            text[c].clear();
            map.AppendText(text[c], a, n, encoding);
            ++n;
            used = a;
        }
        a = used;
    }
}

} // namespace

TPDFTextVector ToUnicodeTable(TPDFCMap& map, TTextEncoding encoding) {
    map.Sort();
    TPDFTextVector text;
    walkSingleBytes(map, text, encoding);
    return text;
}

TPDFTextVector ToUnicodeOverlay(TPDFCMap& map, const TPDFTextVector& text, TTextEncoding encoding) {
    map.Sort();
    TPDFTextVector result = text;
    walkSingleBytes(map, result, encoding);
    return result;
}

std::optional<std::string> ToUnicodeLookup(const TPDFCMap& map, std::uint16_t code,
                                           TTextEncoding encoding) {
    if (map.Empty())
        return std::nullopt;
    const std::int32_t index = map.FindRange(code);
    if (index < 0)
        return std::nullopt;
    std::string text;
    map.AppendText(text, std::size_t(index),
                   std::uint16_t(code - map.Item(std::size_t(index)).First), encoding);
    return text;
}

} // namespace korvel
