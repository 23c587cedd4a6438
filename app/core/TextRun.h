#pragma once
// Text for scripts, as the tools Linux users already script write it: the pages of a page
// list, each page's text with LF line ends and a form feed after it, no header or footer
// unless asked. The window's run (Extraction.h) writes the application's own framing instead.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RText.h"

namespace korvel {
class TKorvel;
}

namespace tolvane {

// One item of a page list: "N", "A-B" or "N-" (Last 0: to the last page).
struct TPageSpan {
    std::int64_t First = 1;
    std::int64_t Last = 0;
};
using TPageList = std::vector<TPageSpan>;

// "1-3,7,10-": items separated by commas, pages counted from 1, A not above B. nullopt for
// anything else. An empty text is the whole document.
std::optional<TPageList> ParsePageList(std::string_view text);

// Why a page list does not fit a document of `pageCount` pages under `filter` (1 all, 2 odd,
// 3 even): a page beyond the document, or no page selected. Empty when it fits.
std::string CheckPageList(const TPageList& list, std::int64_t pageCount, int filter);

// Calls `visit` for each page the list selects, in the list's order, skipping those the filter
// leaves out; stops when `visit` returns false.
void ForEachListedPage(const TPageList& list, std::int64_t pageCount, int filter,
                       const std::function<bool(std::int64_t page)>& visit);
// The number of pages ForEachListedPage visits.
std::int64_t CountListedPages(const TPageList& list, std::int64_t pageCount, int filter);

struct TScriptTextOptions {
    int Layout = kLayoutSmart;
    bool PageBreaks = true; // a form feed after every page
    std::string Header;     // placeholders as in the window's run (UTF-8); empty for none
    std::string Footer;
};

// The text of the engine's selected page, numbered `page` of `pageCount` in `file`, as a
// script wants it: header line, the layout's text with LF line ends and a final line end,
// footer line, form feed. Errors of the engine's text production pass through.
std::string ScriptPageText(korvel::TKorvel& engine, std::int64_t page, std::int64_t pageCount,
                           const std::string& file, const std::string& date,
                           const TScriptTextOptions& options, const TLayoutLocale& locale);

// The header line of WordLines.
inline constexpr std::string_view kWordColumns =
    "page\tx0\ttop\tx1\tbottom\tblock\tline\tword\ttext\n";
// The engine's selected page, numbered `page`, as a TSV line per word in reading order: its box
// in points from the top left of the page as displayed (two decimals), its block, line and
// word numbers (from 0) and its text.
std::string WordLines(korvel::TKorvel& engine, std::int64_t page);

// CR LF and lone CR as LF.
std::string ToLineFeeds(std::string_view text);

} // namespace tolvane
