#include "TextRun.h"

#include <algorithm>
#include <charconv>

#include "Extraction.h"
#include "facade/uKorvel.h"

namespace tolvane {

namespace {

bool readPage(std::string_view digits, std::int64_t& value) {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return ec == std::errc() && end == digits.data() + digits.size() && value >= 1;
}

// The pages a span covers in a document of `pageCount` pages, as [first, last].
std::pair<std::int64_t, std::int64_t> spanPages(const TPageSpan& span, std::int64_t pageCount) {
    return {span.First, span.Last == 0 ? std::max(pageCount, span.First) : span.Last};
}

bool filterTakes(int filter, std::int64_t page) {
    return filter == 1 || (filter == 2 && page % 2 == 1) || (filter == 3 && page % 2 == 0);
}

std::int64_t countTaken(std::int64_t first, std::int64_t last, int filter) {
    if (last < first)
        return 0;
    const std::int64_t all = last - first + 1;
    if (filter == 1)
        return all;
    const bool firstTaken = filterTakes(filter, first);
    return firstTaken ? (all + 1) / 2 : all / 2;
}

} // namespace

std::optional<TPageList> ParsePageList(std::string_view text) {
    TPageList list;
    if (text.empty()) {
        list.push_back(TPageSpan{1, 0});
        return list;
    }
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const std::size_t dash = item.find('-');
        TPageSpan span;
        if (dash == std::string_view::npos) {
            if (!readPage(item, span.First))
                return std::nullopt;
            span.Last = span.First;
        } else {
            if (!readPage(item.substr(0, dash), span.First))
                return std::nullopt;
            const std::string_view last = item.substr(dash + 1);
            if (!last.empty() && (!readPage(last, span.Last) || span.Last < span.First))
                return std::nullopt;
        }
        list.push_back(span);
        if (comma == std::string_view::npos)
            return list;
        text.remove_prefix(comma + 1);
    }
}

std::string CheckPageList(const TPageList& list, std::int64_t pageCount, int filter) {
    if (pageCount <= 0)
        return "the document has no pages";
    for (const TPageSpan& span : list) {
        const auto [first, last] = spanPages(span, pageCount);
        if (last > pageCount)
            return "page " + std::to_string(first > pageCount ? first : last) + " is outside 1-" +
                   std::to_string(pageCount);
    }
    if (CountListedPages(list, pageCount, filter) == 0)
        return "the page list selects no page";
    return {};
}

void ForEachListedPage(const TPageList& list, std::int64_t pageCount, int filter,
                       const std::function<bool(std::int64_t page)>& visit) {
    for (const TPageSpan& span : list) {
        const auto [first, last] = spanPages(span, pageCount);
        for (std::int64_t page = first; page <= std::min(last, pageCount); ++page)
            if (filterTakes(filter, page) && !visit(page))
                return;
    }
}

std::int64_t CountListedPages(const TPageList& list, std::int64_t pageCount, int filter) {
    std::int64_t count = 0;
    for (const TPageSpan& span : list) {
        const auto [first, last] = spanPages(span, pageCount);
        count += countTaken(first, std::min(last, pageCount), filter);
    }
    return count;
}

std::string WordLines(korvel::TKorvel& engine, std::int64_t page) {
    std::string lines;
    char number[64];
    for (const korvel::TPageWord& word : engine.GetPageWords()) {
        lines += std::to_string(page);
        for (const double value : {word.X0, word.Top, word.X1, word.Bottom}) {
            const auto [end, ec] =
                std::to_chars(number, number + sizeof number, value, std::chars_format::fixed, 2);
            lines += '\t';
            lines.append(number, ec == std::errc() ? end : number);
        }
        for (const std::int32_t value : {word.Block, word.Line, word.Word}) {
            lines += '\t';
            lines += std::to_string(value);
        }
        lines += '\t';
        lines += word.Text;
        lines += '\n';
    }
    return lines;
}

std::string ToLineFeeds(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            result += text[i];
            continue;
        }
        result += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
    }
    return result;
}

std::string ScriptPageText(korvel::TKorvel& engine, std::int64_t page, std::int64_t pageCount,
                           const std::string& file, const std::string& date,
                           const TScriptTextOptions& options, const TLayoutLocale& locale) {
    const auto frame = [&](const std::string& line) {
        return EncodeText(ExpandPlaceholders(line, static_cast<int>(page),
                                             static_cast<std::int32_t>(pageCount), file, date),
                          engine.TextEncoding()) +
               '\n';
    };
    std::string text;
    if (!options.Header.empty())
        text += frame(options.Header);
    text += ToLineFeeds(PageTextByLayout(engine, options.Layout, locale));
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    if (!options.Footer.empty())
        text += frame(options.Footer);
    if (options.PageBreaks)
        text += '\f';
    return text;
}

} // namespace tolvane
