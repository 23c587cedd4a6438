// Page lists of the text command and the shape of a script's page text.
#include <gtest/gtest.h>

#include "TextRun.h"

using tolvane::CheckPageList;
using tolvane::CountListedPages;
using tolvane::ForEachListedPage;
using tolvane::ParsePageList;

namespace {

std::vector<std::int64_t> listed(std::string_view text, std::int64_t pageCount, int filter) {
    std::vector<std::int64_t> pages;
    ForEachListedPage(*ParsePageList(text), pageCount, filter, [&](std::int64_t page) {
        pages.push_back(page);
        return true;
    });
    EXPECT_EQ(CountListedPages(*ParsePageList(text), pageCount, filter),
              static_cast<std::int64_t>(pages.size()));
    return pages;
}

} // namespace

TEST(TextRun, PageListsParseOrAreRefused) {
    for (const char* bad :
         {"0", "-3", "3-2", "1,,2", "1,", ",1", "a", "1-2-3", " 1", "1.5", "99999999999999999999"})
        EXPECT_FALSE(ParsePageList(bad)) << bad;
    const struct {
        const char* Text;
        std::int64_t PageCount;
        int Filter;
        std::vector<std::int64_t> Pages;
    } cases[] = {
        {"", 4, 1, {1, 2, 3, 4}}, {"1-3,7,10-", 12, 1, {1, 2, 3, 7, 10, 11, 12}},
        {"3,1", 4, 1, {3, 1}}, // the order given
        {"2-", 5, 2, {3, 5}},     {"1-4", 4, 3, {2, 4}},
        {"4-4", 4, 1, {4}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(listed(c.Text, c.PageCount, c.Filter), c.Pages) << c.Text;
}

TEST(TextRun, ListsThatDoNotFitTheDocumentSayWhy) {
    const struct {
        const char* Text;
        std::int64_t PageCount;
        int Filter;
        std::string Problem;
    } cases[] = {
        {"9", 4, 1, "page 9 is outside 1-4"},
        {"2-9", 4, 1, "page 9 is outside 1-4"},
        {"6-", 4, 1, "page 6 is outside 1-4"},
        {"1", 0, 1, "the document has no pages"},
        {"2", 4, 2, "the page list selects no page"},
        {"", 0, 1, "the document has no pages"},
        {"1-", 4, 1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckPageList(*ParsePageList(c.Text), c.PageCount, c.Filter), c.Problem)
            << c.Text;
}

TEST(TextRun, CountingAHugeDocumentDoesNotVisitItsPages) {
    EXPECT_EQ(CountListedPages(*ParsePageList("1-"), 2'000'000'000, 3), 1'000'000'000);
}

TEST(TextRun, LineEndsBecomeLineFeeds) {
    EXPECT_EQ(tolvane::ToLineFeeds("a\r\nb\rc\n\r\n"), "a\nb\nc\n\n");
}
